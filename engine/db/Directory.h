// Group membership from a server's directory database (names.nsf in the server's data
// directory): documents whose form is "Group" (the Form item, or the note's form column),
// with a ListName text item and a Members item (text list, or text separated by commas,
// semicolons or line breaks). Nested groups count; cycles are harmless.
//
// The groups are read once and cached per directory file until it changes on disk (its file
// or its write-ahead log), so every access check after the first costs a stat.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quire::engine::db {

constexpr const char* kDirectoryFile = "names.nsf";

// Name keys (Access.h nameKey) of every group that has `user` as a member, directly or
// through other groups. Empty when the server has no directory database.
std::vector<std::string> groupsOf(const std::filesystem::path& serverRoot, const std::string& user);

}  // namespace quire::engine::db
