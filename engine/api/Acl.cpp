// Access-control list entry points.
#include "engine/api/EntryPoints.h"
#include "engine/core/Guard.h"
#include "engine/core/Text.h"
#include "engine/db/Acl.h"
#include "engine/store/AclStore.h"

using namespace quire::engine;

namespace {

// Runs `body` with the handle's object, or fails with HTFAIL_INVALID_HANDLE.
template <typename F>
HTSTATUS withHandle(HTDBHANDLE handle, F&& body) {
  return guard([&] {
    std::shared_ptr<db::DbHandle> h;
    if (HTSTATUS s = db::lookup(handle, h)) return s;
    return body(*h);
  });
}

bool validRole(HTINT role) { return role >= 1 && role <= store::acl::kRoleCount; }

}  // namespace

HT_EXPORT HTSTATUS HTACLList(HTDBHANDLE handle, HTINT listMode, HTACLENTRY* entry) {
  if (!entry) return guard([&] { return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: entry"); });
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclList(h, listMode, *entry); });
}

HT_EXPORT HTSTATUS HTACLAdd(HTDBHANDLE handle, const HTACLENTRY* entry) {
  if (!entry) return guard([&] { return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: entry"); });
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclAdd(h, *entry); });
}

HT_EXPORT HTSTATUS HTACLDelete(HTDBHANDLE handle, const char* name) {
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclDelete(h, textArg(name)); });
}

HT_EXPORT HTSTATUS HTACLUpdate(HTDBHANDLE handle, const HTACLENTRY* entry, const HTACLENTRY* newEntry, HTUINT mask) {
  if (!entry || !newEntry) return guard([&] { return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: entry"); });
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclUpdate(h, *entry, *newEntry, mask); });
}

HT_EXPORT HTSTATUS HTACLLookup(HTDBHANDLE handle, const char* name, HTACLENTRY* entry) {
  if (!entry) return guard([&] { return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: entry"); });
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclLookup(h, textArg(name), *entry); });
}

HT_EXPORT HTSTATUS HTACLGetRoleName(HTDBHANDLE handle, HTINT role, char* name) {
  if (!name) return guard([&] { return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: name"); });
  name[0] = '\0';
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclGetRoleName(h, role, name); });
}

HT_EXPORT HTSTATUS HTACLSetRoleName(HTDBHANDLE handle, HTINT role, const char* name) {
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclSetRoleName(h, role, trim(textArg(name))); });
}

// Works on the caller's record only: no handle, no engine state.
HT_EXPORT HTBOOL HTACLGetRole(const HTACLENTRY* entry, HTINT role) {
  if (!entry || !validRole(role)) return 0;
  return (entry->roles[(role - 1) / 8] >> ((role - 1) % 8)) & 1;
}

HT_EXPORT HTSTATUS HTACLSetRole(HTACLENTRY* entry, HTINT role, HTBOOL enable) {
  if (!entry) return guard([&] { return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: entry"); });
  if (!validRole(role)) {
    return guard([&] {
      return fail(HTFAIL_BAD_ROLE, "Role " + std::to_string(role) + " does not exist; roles are numbered 1 to 80");
    });
  }
  const uint8_t bit = uint8_t(1u << ((role - 1) % 8));
  uint8_t& byte = entry->roles[(role - 1) / 8];
  byte = enable ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
  return HTSUCCESS;
}

HT_EXPORT HTSTATUS HTACLReset(HTDBHANDLE handle) {
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclReset(h); });
}

HT_EXPORT HTSTATUS HTACLGetAccessLevel(HTDBHANDLE handle, HTINT* level, HTUINT* flags) {
  if (!level) return guard([&] { return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: level"); });
  return withHandle(handle, [&](db::DbHandle& h) {
    HTUINT f = 0;
    HTSTATUS s = db::aclAccessLevel(h, *level, f);
    if (flags) *flags = f;
    return s;
  });
}

HT_EXPORT HTSTATUS HTACLGetACLProperty(HTDBHANDLE handle, HTINT property, void* value) {
  if (!value) return guard([&] { return fail(HTFAIL_INVALID_ARGUMENT, "Missing argument: value"); });
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclGetProperty(h, property, value); });
}

HT_EXPORT HTSTATUS HTACLSetACLProperty(HTDBHANDLE handle, HTINT property, HTUINT value) {
  return withHandle(handle, [&](db::DbHandle& h) { return db::aclSetProperty(h, property, value); });
}
