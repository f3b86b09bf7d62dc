// Encryption (items unreadable in the database file, readable again with the key, sealed
// without it) and signing through libnnotes' NSFNoteSign, verified afterwards.
#include <dlfcn.h>
#include <sys/stat.h>

#include <filesystem>

#include "doc_support.h"
#include "engine/doc/Document.h"
#include "engine/doc/Signature.h"

namespace quire::engine::test {
namespace {

namespace fs = std::filesystem;

class SecurityTest : public DocTest {
 protected:
  // Everything of the database on disk: the file and its write-ahead log.
  std::string rawDatabase() { return readFile(tempPath("docs.nsf")) + readFile(tempPath("docs.nsf-wal")); }

  std::vector<fs::path> keyFiles() {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dataDir_ / "keys", ec)) out.push_back(e.path());
    return out;
  }
};

TEST_F(SecurityTest, EncryptedItemsAreUnreadableInTheFileAndOpenWithTheKey) {
  const std::string secret = "TOPSECRET-7f3a9c-payload";
  HTDOCHANDLE doc = create();
  putText(doc, "Public", "PUBLIC-visible-marker");
  putText(doc, "Secret", secret, HTTYPE_TEXT, 0x0002);
  ASSERT_EQ(HTItemAppendTextList(doc, "SecretList", (secret + "-list").c_str(), 0, 0), HTSUCCESS);
  ASSERT_EQ(HTItemPut(doc, "SecretList", 0, 0, HTTYPE_TEXT, (secret + "-list").c_str(), 0x0002), HTSUCCESS);
  ASSERT_EQ(HTDocumentEncrypt(doc, 0, nullptr), HTSUCCESS);
  save(doc);
  const HTID id = idOf(doc);
  HTDocumentClose(doc, 0);

  const std::string raw = rawDatabase();
  ASSERT_NE(raw.find("PUBLIC-visible-marker"), std::string::npos);  // the check can see items
  EXPECT_EQ(raw.find("TOPSECRET-7f3a9c"), std::string::npos);

  auto keys = keyFiles();
  ASSERT_EQ(keys.size(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat(keys[0].c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(raw.find(readFile(keys[0].string())), std::string::npos);  // the key is not in the file

  HTDOCHANDLE again = open(id);
  EXPECT_EQ(text(again, "Secret"), secret);
  EXPECT_EQ(entries(again, "SecretList"), std::vector<std::string>{secret + "-list"});
  HTUINT encrypted = 0;
  ASSERT_EQ(HTDocumentGetProperty(again, HTDOCUMENT_IS_ENCRYPTED, &encrypted), HTSUCCESS);
  EXPECT_EQ(encrypted, 1u);
  HTDocumentClose(again, 0);

  // Without the key the items stay sealed, and saving other changes keeps them intact.
  const fs::path hidden = dataDir_ / "key.aside";
  fs::rename(keys[0], hidden);
  HTDOCHANDLE locked = open(id);
  HTUINT length = 0;
  HTINT want = HTTYPE_TEXT;
  EXPECT_EQ(HTItemGetLength(locked, "Secret", nullptr, &want, &length), HTFAIL_NO_KEY);
  EXPECT_EQ(text(locked, "Public"), "PUBLIC-visible-marker");
  putText(locked, "Public", "changed without the key");
  save(locked);
  HTDocumentClose(locked, 0);
  fs::rename(hidden, keys[0]);
  HTDOCHANDLE restored = open(id);
  EXPECT_EQ(text(restored, "Secret"), secret);
  EXPECT_EQ(text(restored, "Public"), "changed without the key");
  HTDocumentClose(restored, 0);
}

TEST_F(SecurityTest, EncryptingWithoutFlaggedItemsSealsTheBody) {
  HTDOCHANDLE doc = create();
  putText(doc, "Subject", "visible subject");
  putText(doc, "Body", "BODY-hidden-4411 text", HTTYPE_COMPOSITE);
  ASSERT_EQ(HTDocumentEncrypt(doc, 0, "team key"), HTSUCCESS);
  save(doc);
  EXPECT_EQ(rawDatabase().find("BODY-hidden-4411"), std::string::npos);
  HTDOCHANDLE again = open(idOf(doc));
  EXPECT_EQ(text(again, "Body"), "BODY-hidden-4411 text");
  HTDocumentClose(again, 0);
  HTDocumentClose(doc, 0);
}

#define ASSERT_EQ_RETURN(call) \
  do {                         \
    if ((call) != HTSUCCESS) { \
      ADD_FAILURE() << #call;  \
      return 0;                \
    }                          \
  } while (0)

// An encrypted document's files are sealed with its items: not in the file or its log, not
// in the full-text index, and not handed out without the key.
class EncryptedFileTest : public SecurityTest {
 protected:
  static constexpr const char* kWord = "quetzalcoatlfile";
  const std::string content_ = std::string("plain text of the file: ") + kWord + " BYTES-7c1d-marker\n";

  HTUINT ftMatches(const char* query) {
    HTINDEXHANDLE index = 0;
    EXPECT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
    EXPECT_EQ(HTIndexFTSearch(index, query, 0, 0, 0), HTSUCCESS) << message(HTFAIL_FTQUERY_SYNTAX);
    const HTUINT count = HTIndexGetCount(index);
    HTIndexClose(index);
    return count;
  }

  // Everything on disk once the database is closed and its log folded in.
  std::string rawAfterClose() {
    HTDatabaseClose(db_, 0);
    HTTerm(0);
    std::string raw = rawDatabase();
    EXPECT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);
    EXPECT_EQ(HTDatabaseOpen("", "docs.nsf", 0, &db_), HTSUCCESS);
    return raw;
  }

  HTID attachAndSave(bool encryptFirst) {
    ASSERT_EQ_RETURN(HTDatabaseCreateFTIndex(db_, 0, 0, nullptr));
    writeFile(tempPath("report.txt"), content_);
    HTDOCHANDLE doc = create();
    putText(doc, "Subject", "visible subject");
    EXPECT_EQ(HTAttachmentAttach(doc, tempPath("report.txt").c_str(), nullptr, HTATTHOST_LOCAL, 0), HTSUCCESS);
    if (!encryptFirst) save(doc);
    EXPECT_EQ(HTDocumentEncrypt(doc, 0, nullptr), HTSUCCESS);
    save(doc);
    const HTID id = idOf(doc);
    HTDocumentClose(doc, 0);
    return id;
  }

  // `neverIndexed`: the file was never in clear on disk, so its words are in no index segment.
  void expectSealed(HTID id, bool neverIndexed) {
    EXPECT_EQ(ftMatches(kWord), 0u) << "the index finds a word of the sealed file";
    EXPECT_EQ(ftMatches("visible"), 1u);
    const std::string raw = rawAfterClose();
    EXPECT_EQ(raw.find("BYTES-7c1d-marker"), std::string::npos) << "the file's bytes are on disk in clear";
    if (neverIndexed) {
      EXPECT_EQ(raw.find(kWord), std::string::npos) << "the full-text tables hold a word of the file";
    }

    HTDOCHANDLE doc = open(id);
    HTUINT encrypted = 0;
    ASSERT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_IS_ENCRYPTED, &encrypted), HTSUCCESS);
    EXPECT_EQ(encrypted, 1u);
    ASSERT_EQ(HTAttachmentExtract(doc, "report.txt", tempPath("out.txt").c_str()), HTSUCCESS);
    EXPECT_EQ(readFile(tempPath("out.txt")), content_);
    HTDocumentClose(doc, 0);

    fs::remove(tempPath("out.txt"));
    fs::rename(dataDir_ / "keys", dataDir_ / "keys.aside");
    doc = open(id);
    EXPECT_EQ(HTAttachmentExtract(doc, "report.txt", tempPath("out.txt").c_str()), HTFAIL_NO_KEY);
    EXPECT_FALSE(fs::exists(tempPath("out.txt")));
    HTDOCHANDLE other = create();
    EXPECT_EQ(HTAttachmentCopy(doc, "report.txt", other), HTFAIL_NO_KEY);
    HTDocumentClose(other, 0);
    putText(doc, "Subject", "changed without the key");
    save(doc);  // the sealed file is kept as it is
    HTDocumentClose(doc, 0);
    fs::rename(dataDir_ / "keys.aside", dataDir_ / "keys");
    doc = open(id);
    ASSERT_EQ(HTAttachmentExtract(doc, "report.txt", tempPath("out.txt").c_str()), HTSUCCESS);
    EXPECT_EQ(readFile(tempPath("out.txt")), content_);
    HTDocumentClose(doc, 0);
  }
};

TEST_F(EncryptedFileTest, AFileAttachedBeforeEncryptingIsSealed) { expectSealed(attachAndSave(true), true); }

TEST_F(EncryptedFileTest, AFileStoredInClearIsSealedByTheSaveThatEncrypts) { expectSealed(attachAndSave(false), false); }

// An engine that died between creating a key file and writing the key left it empty (or
// short). With nothing sealed by it yet, it is no key: the next encryption makes a whole one.
TEST_F(SecurityTest, AnEmptyKeyFileLeftByACrashIsReplacedWhileNothingIsSealedWithIt) {
  fs::create_directories(dataDir_ / "keys");
  const fs::path empty = dataDir_ / "keys" / ("name-" + std::string("7465616d") + ".key");  // "team"
  writeFile(empty.string(), "");
  writeFile((dataDir_ / "keys" / "name-73686f7274.key").string(), "short");  // "short"
  for (const char* key : {"team", "short"}) {
    HTDOCHANDLE doc = create();
    putText(doc, "Body", std::string("sealed with ") + key);
    ASSERT_EQ(HTDocumentEncrypt(doc, 0, key), HTSUCCESS) << message(HTFAIL_NO_KEY);
    save(doc);
    const HTID id = idOf(doc);
    HTDocumentClose(doc, 0);
    HTDOCHANDLE again = open(id);
    EXPECT_EQ(text(again, "Body"), std::string("sealed with ") + key);
    HTDocumentClose(again, 0);
  }
  EXPECT_EQ(fs::file_size(empty), 32u);
  struct stat st {};
  ASSERT_EQ(::stat(empty.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(keyFiles().size(), 2u) << "a temporary key file was left behind";
}

// Once documents are sealed with a key, a key file found short is damage, not absence: a new
// key would leave those documents sealed for good, so encrypting more with it is refused.
TEST_F(SecurityTest, AKeyFileDamagedAfterUseIsReportedNotReplaced) {
  HTDOCHANDLE doc = create();
  putText(doc, "Body", "sealed first");
  ASSERT_EQ(HTDocumentEncrypt(doc, 0, "team"), HTSUCCESS);
  save(doc);
  HTDocumentClose(doc, 0);
  auto keys = keyFiles();
  ASSERT_EQ(keys.size(), 1u);
  const std::string original = readFile(keys[0].string());
  writeFile(keys[0].string(), original.substr(0, 7));

  HTDOCHANDLE second = create();
  putText(second, "Body", "sealed next");
  EXPECT_EQ(HTDocumentEncrypt(second, 0, "team"), HTFAIL_NO_KEY);
  EXPECT_NE(message(HTFAIL_NO_KEY).find("damaged"), std::string::npos) << message(HTFAIL_NO_KEY);
  HTDocumentClose(second, 0);
  EXPECT_EQ(readFile(keys[0].string()), original.substr(0, 7));
}

// libnnotes is loaded as the library loads it, together with the shared engine it forwards to.
class SigningTest : public SecurityTest {
 protected:
  void SetUp() override {
    SecurityTest::SetUp();
    if (IsSkipped()) return;
    engine_ = dlopen(NTHTAPI_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(engine_, nullptr) << dlerror();
    nnotes_ = dlopen(NNOTES_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nnotes_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (nnotes_) dlclose(nnotes_);
    if (engine_) dlclose(engine_);
    SecurityTest::TearDown();
  }
  template <typename F>
  F api(const char* name) {
    return reinterpret_cast<F>(dlsym(engine_, name));
  }
  void* engine_ = nullptr;
  void* nnotes_ = nullptr;
};

TEST_F(SigningTest, NsfNoteSignWritesAVerifiableSignature) {
  // The shared engine is a second copy of the engine in this process; it works on the same
  // data directory.
  ASSERT_EQ(api<HT__HTInit_fn>("_HTInit")(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);
  HTDBHANDLE db = 0;
  ASSERT_EQ(api<HT_HTDatabaseOpen_fn>("HTDatabaseOpen")("", "docs.nsf", 0, &db), HTSUCCESS);
  HTDOCHANDLE doc = 0;
  ASSERT_EQ(api<HT_HTDocumentCreate_fn>("HTDocumentCreate")(db, 0, &doc), HTSUCCESS);
  auto put = api<HT_HTItemPut_fn>("HTItemPut");
  ASSERT_EQ(put(doc, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, "signed subject", 0), HTSUCCESS);
  ASSERT_EQ(put(doc, "Body", HTTYPE_COMPOSITE, 0, HTTYPE_TEXT, "signed body", 0), HTSUCCESS);
  HTUINT noteHandle = 0;
  ASSERT_EQ(api<HT_HTDocumentGetNotesHandle_fn>("HTDocumentGetNotesHandle")(doc, 0x40000000, &noteHandle), HTSUCCESS);
  auto sign = reinterpret_cast<HT_NSFNoteSign_fn>(dlsym(nnotes_, "NSFNoteSign"));
  ASSERT_NE(sign, nullptr);
  ASSERT_EQ(sign(noteHandle), HTSUCCESS);
  ASSERT_EQ(api<HT_HTDocumentSave_fn>("HTDocumentSave")(doc, 0), HTSUCCESS);
  HTID id = 0;
  ASSERT_EQ(api<HT_HTDocumentGetProperty_fn>("HTDocumentGetProperty")(doc, HTDOCUMENT_DOCID, &id), HTSUCCESS);
  api<HT_HTDocumentClose_fn>("HTDocumentClose")(doc, 0);
  EXPECT_EQ(sign(noteHandle), HTFAIL_INVALID_HANDLE);  // only while the document is open

  auto load = reinterpret_cast<HT_OSLoadString_fn>(dlsym(nnotes_, "OSLoadString"));
  char text[HT_ERROR_TEXT_CAPACITY];
  EXPECT_GT(load(0, HTFAIL_INVALID_HANDLE, text, sizeof text), 0u);
  EXPECT_NE(std::string(text).find(std::to_string(noteHandle)), std::string::npos) << text;
  char tiny[5];
  EXPECT_EQ(load(0, HTFAIL_ITEM_NOT_FOUND, tiny, sizeof tiny), 4u);
  EXPECT_EQ(load(0, 0x12345678, text, sizeof text), 0u);
  EXPECT_STREQ(text, "");
  api<HT_HTTerm_fn>("HTTerm")(0);

  // Verified by this copy of the engine from the stored document.
  HTDOCHANDLE stored = open(id);
  std::shared_ptr<doc::Document> d;
  ASSERT_EQ(doc::lookupDocument(stored, d), HTSUCCESS);
  EXPECT_EQ(doc::verifySignature(d->note), userName());
  HTINT type = 0;
  HTUINT flags = 0, length = 0;
  ASSERT_EQ(HTItemGetInfo(stored, "Subject", &type, &flags, &length), HTSUCCESS);
  EXPECT_EQ(flags & 0x0001, 1u);  // covered items carry the signed flag
  putText(stored, "Routing", "added later");  // not covered: still verifies
  EXPECT_TRUE(doc::verifySignature(d->note).has_value());
  putText(stored, "Subject", "tampered");
  EXPECT_FALSE(doc::verifySignature(d->note).has_value());
  HTDocumentClose(stored, 0);
}

}  // namespace
}  // namespace quire::engine::test
