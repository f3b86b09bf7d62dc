// quire server setup / status: security at a server kept in PostgreSQL (its people as roles,
// each database's ACL as grants and row-level security). Part of the "server" command group,
// whose usage text lists them; both print the engine's report as a table or, with --json, as
// it comes. Failure when the server is not kept in PostgreSQL or the login role may not do it.
#pragma once

#include "tools/quire/Cli.h"

namespace quirecli {

// A macro, so the group's usage text can take these lines as one literal.
#define QUIRE_SERVER_SECURITY_USAGE \
    "  quire server setup SERVER [--json]\n" \
    "      makes a PostgreSQL role for each person of the server's names.nsf and turns each\n" \
    "      database's ACL into grants and row-level security; run it as a PostgreSQL role\n" \
    "      that may create roles and owns the databases, and again when names.nsf changes\n" \
    "  quire server status SERVER [--json]\n" \
    "      the people and their roles, and each database's grants\n"

int ServerSetup(Context& context, Arguments& arguments);
int ServerStatus(Context& context, Arguments& arguments);

}  // namespace quirecli
