// quire server setup/status on a server that cannot have them, and their place in the help.
#include "CliRunner.h"

namespace quiretest {
namespace {

class QuireServerCli : public CliTest {};

TEST_F(QuireServerCli, SecurityCommandsRefuseAServerOfFilesAndAreInTheHelp) {
  ASSERT_OK(Run({"server", "add", "Hub", "hub"}));
  for (const char* command : {"setup", "status"}) {
    for (const char* server : {"Local", "Hub"}) {
      Result r = Run({"server", command, server});
      EXPECT_EQ(r.exitCode, 1) << command << " " << server;
      EXPECT_TRUE(Contains(r.err, "keeps its databases in files")) << r.err;
      EXPECT_TRUE(r.out.empty()) << r.out;
    }
  }
  Result unknown = Run({"server", "status", "Nowhere", "--json"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_EQ(Run({"server", "status"}).exitCode, 2);
  Result help = Run({"server", "--help"});
  EXPECT_TRUE(Contains(help.out + help.err, "quire server setup SERVER [--json]")) << help.out;
}

}  // namespace
}  // namespace quiretest
