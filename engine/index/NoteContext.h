// Formula evaluation over stored notes: the formula::EvalContext of the engine.
//
// A NoteContext answers field references from a note's stored items (store::StoredItem) and
// the @functions about the document from its header. It is reused across notes: bind it to
// one note, evaluate, bind it to the next. Binding copies nothing; a field is decoded only
// when the formula asks for it, and only that item. Two ways to bind:
//   bind(header, items)        items already in memory (borrowed: keep them alive and
//                              unchanged while bound);
//   bindStored(conn, header)   the note's items read from the store on the first field
//                              reference (they are one record), on `conn` (the caller holds
//                              the database lock while evaluating).
// Unbound (or default-constructed) it is the context of a formula without a document: every
// field is absent, @Created/@Modified answer now.
//
// Fields. Item names compare without regard to case. Decoding per item type: text → text;
// text list → text list; number and number list → numbers; date-time and date-time list →
// date-times (core/DateTime.h serial form); rich text → its plain text (engine/doc/Composite.h);
// formula items → their text; other types
// and malformed values read as absent (""), never fail. Encrypted items (kItemEncrypted) read
// as absent: their stored bytes are ciphertext.
//
// Document values: @Created/@Modified from the header's created/modified times;
// @DocumentUniqueID is the 32-digit upper-case hex UNID; @IsResponseDoc is whether the header
// has a parent; @UserName is db::userName() unless set with setUserName.
//
// FIELD assignments (agents) are recorded, not written: later references in the same
// evaluation read the assigned value; `assignments()` lists them (one per item name, the
// last value, in first-assignment order) and `applyAssignments` turns them into stored items.
// They are cleared by every bind.
//
// Not thread-safe; one context per thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formula/Formula.h"
#include "engine/formula/Value.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Storage.h"

namespace quire::engine::index {

// Item values found somewhere other than the note's items (the summary cache).
class FieldSource {
 public:
  virtual ~FieldSource() = default;
  // False when this source does not know `name` (the context then reads the store). True
  // with `value` null when the document has no such item.
  virtual bool lookup(std::string_view name, const formula::Value*& value) = 0;
};

class NoteContext : public formula::EvalContext {
 public:
  NoteContext();
  ~NoteContext() override;

  void bind(const store::NoteHeader& header, const std::vector<store::StoredItem>& items);
  void bindStored(store::Connection& conn, const store::NoteHeader& header);
  // Items already read for the names in `covered` (folded with foldName); a name outside
  // `covered` is read from the store as bindStored does. `items` and `covered` are borrowed.
  void bindPartial(store::Connection& conn, const store::NoteHeader& header,
                   const std::vector<store::StoredItem>& items, const std::vector<std::string>& covered);
  // Fields from `source` first, the rest read lazily as bindStored does.
  void bindSource(store::Connection& conn, const store::NoteHeader& header, FieldSource& source);
  void unbind();
  void setUserName(std::string name) { userName_ = std::move(name); }
  // The header bound, or null.
  const store::NoteHeader* header() const { return header_; }

  formula::Value getField(std::string_view name) override;
  bool hasField(std::string_view name) override;
  bool setField(std::string_view name, const formula::Value& value) override;
  formula::DateTime created() override;
  formula::DateTime modified() override;
  std::string unid() override;
  bool isResponse() override;
  std::string userName() override;

  struct Assignment {
    std::string name;
    formula::Value value;
  };
  const std::vector<Assignment>& assignments() const { return assignments_; }
  void clearAssignments() { assignments_.clear(); }

  // Writes `assignments` into `items`: an item of the same name (any case) gets the new value
  // and type and keeps its place and flags; a new one is appended. Returns whether any stored
  // value actually changed.
  static bool applyAssignments(const std::vector<Assignment>& assignments, std::vector<store::StoredItem>& items);

  // The formula value of a stored item; false for a type or value it cannot read.
  static bool decode(const store::StoredItem& item, formula::Value& out);
  static bool decode(HTINT type, const void* data, size_t size, formula::Value& out);
  // The stored item for a formula value (text, text list, number(s), date-time(s)).
  static store::StoredItem encode(std::string_view name, const formula::Value& value);

 private:
  const store::StoredItem* findItem(std::string_view name);
  const Assignment* findAssignment(std::string_view name) const;

  const store::NoteHeader* header_ = nullptr;
  const std::vector<store::StoredItem>* items_ = nullptr;
  const std::vector<std::string>* covered_ = nullptr;  // bindPartial: names `items_` covers
  FieldSource* source_ = nullptr;                      // bindSource
  store::Connection* conn_ = nullptr;        // bindStored: items loaded lazily
  std::vector<store::StoredItem> loaded_;    // bindStored: the note's items, once read
  bool allLoaded_ = false;
  std::vector<Assignment> assignments_;
  std::string userName_;
};

// The UNID's text form: 32 upper-case hexadecimal digits, words W1 W0 W3 W2 (8 digits each),
// the form callers see everywhere (@DocumentUniqueID).
std::string unidText(const UNID& unid);

// The plain text of a rich-text (composite) item value; false when malformed.
bool compositePlainText(const void* data, size_t size, std::string& out);

// The comparable form of an item name (ASCII lower-cased, else case-folded).
std::string foldName(std::string_view name);

// A number in its shortest exact text form ("1.5", "500", "1E+21").
std::string numberText(double n);

// A formula value rendered as text for display (HTQuireEvaluate, quire eval): numbers in
// shortest form, date-times by the context, list entries joined by `separator`.
std::string renderValue(const formula::Value& value, formula::EvalContext& context,
                        std::string_view separator = "; ");

}  // namespace quire::engine::index
