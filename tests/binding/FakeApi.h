// What the tests know about the test doubles (FakeHitest.cpp, FakeNotesCore.cpp).
#pragma once

#include <cstdint>

#include "hitest/hitest.h"

inline constexpr uint32_t kFakeReopenResult = 0x0A000001u;
inline constexpr uint32_t kFakeACLGetResult = 0x0A000002u;
inline constexpr uint32_t kFakeACLSetResult = 0x0A000003u;
inline constexpr uint32_t kFakeDecoyResult = 0x0BAD0000u;
inline constexpr uint32_t kFakeNoteSignResult = 0x0A000010u;
inline constexpr uint32_t kFakeKnownCode = HTFAIL_NOTE_NOT_FOUND;
inline constexpr uint32_t kFakeLongMessageCode = 0x0000BEEFu;
