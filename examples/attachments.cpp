// Attaches a file to a document, then extracts it again from a fresh copy of the document
// and checks that every byte came back.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <binding/Quire01.h>
#include <objects/QRAttch.h>
#include <objects/QRDbase.h>
#include <objects/QRSessn.h>
#include <objects/Quiredoc.h>

namespace {

constexpr char kPath[] = "examples\\files.nsf";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
  return bool(out);
}

// A scratch directory of our own for the file we attach and the copy we extract.
std::string MakeScratchDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quire-example-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : std::string();
}

int Run() {
  TQuireSession session;
  if (!session.Initialized) {
    std::fprintf(stderr, "the database engine is not available\n");
    return 1;
  }
  HTAPI.HTDatabaseDelete("", kPath);
  const HTSTATUS status = HTAPI.HTDatabaseCreate("", kPath, "Files", "", HTDBCLASS_DATABASE);
  auto database = status == HTSUCCESS ? session.GetDatabase("", kPath) : nullptr;
  if (!database) {
    std::fprintf(stderr, "cannot create %s: %s\n", kPath, GetNotesErrorText(status).c_str());
    return 1;
  }
  const std::string scratch = MakeScratchDirectory();
  if (scratch.empty()) {
    std::perror("mkdtemp");
    return 1;
  }
  // Bytes of every value, so a text-mode mistake anywhere would show.
  std::string original;
  for (int i = 0; i < 70000; ++i) original += char(i * 31 % 256);
  const std::string source = scratch + "/report.bin";
  if (!WriteFile(source, original)) return 1;

  auto doc = database->CreateDocument("");
  if (!doc) return 1;
  doc->AppendTextItem("Subject", "Quarterly report");
  doc->AttachFile(source);  // stored under its file name, "report.bin"
  doc->Save();
  if (doc->LastError != 0) {
    std::fprintf(stderr, "cannot save: %s\n", doc->GetNotesErrorString().c_str());
    return 1;
  }
  const std::string unid = doc->GetUniversalID();
  doc.reset();

  // A document object lists its attachments when it is opened.
  auto again = database->GetDocumentByUNID(unid);
  TQuireAttachment* attachment = again ? again->GetAttachment("report.bin") : nullptr;
  if (!attachment) {
    std::fprintf(stderr, "the attachment is missing\n");
    return 1;
  }
  const std::string target = scratch + "/extracted.bin";
  attachment->ExtractFile(target);
  if (attachment->LastError != 0) {
    std::fprintf(stderr, "cannot extract: %s\n", attachment->GetNotesErrorString().c_str());
    return 1;
  }
  const bool same = ReadFile(target) == original;
  std::printf("attached %zu bytes as '%s' to %s, extracted %s\n", original.size(), attachment->Name.c_str(),
              unid.c_str(), same ? "an identical copy" : "A DIFFERENT FILE");
  std::remove(source.c_str());
  std::remove(target.c_str());
  std::remove(scratch.c_str());
  return same ? 0 : 1;
}

}  // namespace

int main() {
  Initialize();
  const int result = Run();
  Finalize();
  return result;
}
