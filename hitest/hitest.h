/* hitest.h: the C API contract between the Quire library and any engine that implements it.
 *
 * Neither side owns this header. The library resolves the entry points at run time
 * (dlopen of libnthtapi.so); the engine in engine/ exports them. Anything that honours
 * the calls as written here can stand in for that engine.
 *
 * Conventions (they hold for every entry point unless its comment says otherwise):
 *  1. Calls use the platform C calling convention and are declared extern "C".
 *  2. Most calls return an HTSTATUS: 0 is success, anything else a failure code that
 *     HTErrorGetInfo turns into a message. "Not found" is an ordinary status, not a crash.
 *  3. Handles (database, index, document, composite) and identifiers (note, view, folder,
 *     form, agent) are 32-bit values issued by the engine. The engine validates every one;
 *     a stale or foreign handle gives HTFAIL_INVALID_HANDLE, never undefined behaviour.
 *  4. Strings are zero-terminated 8-bit texts (UTF-8 natively, LMBCS when the caller has
 *     translated them with HTTranslate). A null `const char *` counts as the empty text.
 *  5. Every out-buffer has a capacity: either passed explicitly, or fixed by the call's
 *     comment below (e.g. HT_TITLE_CAPACITY). The engine never writes beyond it and always
 *     terminates the text; a value that does not fit is cut at the capacity.
 *  6. Booleans travel as 32-bit values: 0 false, anything else true. Where a caller hands a
 *     Boolean property by address, the engine reads only its first byte, so a one-byte
 *     Boolean is as good as a 32-bit one.
 *  7. Out-pointers may not be null unless the comment says so; a null one gives
 *     HTFAIL_INVALID_ARGUMENT.
 *  8. Records that hold addresses (mail record, key descriptor, the specs of the design
 *     calls) hold native pointers and grow to fit; every other record keeps its byte layout,
 *     checked by static_assert below.
 *  9. List calls take an HTLIST mode: HTLIST_FIRST (or HTLIST_REFRESH) starts, HTLIST_NEXT
 *     continues, and HTFAIL_END_OF_LIST ends the list.
 * 10. The engine is single-threaded per handle: a handle must not be used from two threads
 *     at once. Different handles may be used from different threads.
 */
#ifndef HITEST_HITEST_H
#define HITEST_HITEST_H

#include <stddef.h>
#include <stdint.h>

#include "hitest/HTEnums.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Scalar types ---------------------------------------------------------------- */

typedef uint32_t HTSTATUS;      /* result code; 0 is success */
typedef int32_t HTINT;
typedef uint32_t HTUINT;
typedef int32_t HTBOOL;         /* 0 false, non-zero true */
typedef uint32_t HTID;          /* note, view, folder, form and agent identifiers; 0 = none */
typedef uint32_t HTDBHANDLE;    /* open database */
typedef uint32_t HTINDEXHANDLE; /* open index: collection, view or folder */
typedef uint32_t HTDOCHANDLE;   /* open document */
typedef uint32_t HTCOMPHANDLE;  /* open composite (rich-text) item */

/* The library asks _HTInit for this version; the engine refuses any other major version. */
#define HTVERSION_LIBRARY 0x00045000u

/* ---- Result codes ------------------------------------------------------------------ */

#define HTSUCCESS 0u

/* Codes the library itself acts on. */
#define HTFAIL_END_OF_LIST       0x80000107u /* no further entry in that direction */
#define HTFAIL_NOT_ON_SERVER     0x8000010Bu /* the program runs on a workstation */
#define HTFAIL_NO_DATABASE_LIST  0x8000010Cu /* set by the library: replication without a list */
#define HTFAIL_BAD_SERVER        0x80000501u /* set by the library: no server or "Local" */
#define HTFAIL_VIEW_NOT_FOUND    0x80000901u /* set by the library: view or folder not found */
#define HTFAIL_SAVE_WARNING      0x80000E01u /* saved, with a warning; callers treat it as success */

/* The engine's own codes. Each has one message in the engine's table (HTErrorGetInfo). */
#define HTFAIL_NOT_IMPLEMENTED   0x80002001u /* the engine does not implement this entry point */
#define HTFAIL_INVALID_HANDLE    0x80002002u /* handle unknown, closed or of the wrong kind */
#define HTFAIL_INVALID_ARGUMENT  0x80002003u /* null out-pointer, bad enumeration value, ... */
#define HTFAIL_NOT_INITIALIZED   0x80002004u /* _HTInit has not succeeded */
#define HTFAIL_BAD_VERSION       0x80002005u /* _HTInit asked for a version the engine lacks */
#define HTFAIL_UNKNOWN_PROPERTY  0x80002006u /* property number not known or not settable */
#define HTFAIL_TEXT_TOO_LONG     0x80002007u /* a text exceeds what the call accepts */
#define HTFAIL_NO_MEMORY         0x80002008u
#define HTFAIL_IO_ERROR          0x80002009u /* the message names the file and the reason */
#define HTFAIL_STORAGE_ERROR     0x8000200Au /* the storage layer failed; message has details */
#define HTFAIL_SCHEMA_TOO_NEW    0x8000200Bu /* database written by a newer engine */
#define HTFAIL_NOT_A_DATABASE    0x8000200Cu /* file is not a database of this engine */
#define HTFAIL_SERVER_NOT_FOUND  0x8000200Du /* no server of that name is configured */
#define HTFAIL_PATH_OUTSIDE      0x8000200Eu /* path escapes the server's data directory */
#define HTFAIL_DB_NOT_FOUND      0x8000200Fu /* no database at that path */
#define HTFAIL_DB_EXISTS         0x80002010u /* a database already exists at that path */
#define HTFAIL_DB_IN_USE         0x80002011u /* the database is open and cannot be deleted */
#define HTFAIL_ACCESS_DENIED     0x80002012u /* the access-control list refuses the operation */
#define HTFAIL_NOT_MANAGER       0x80002013u /* only a Manager may change the access-control list */
#define HTFAIL_ENTRY_NOT_FOUND   0x80002014u /* no ACL entry / role / list entry of that name */
#define HTFAIL_ENTRY_EXISTS      0x80002015u /* an ACL entry of that name already exists */
#define HTFAIL_BAD_ROLE          0x80002016u /* role index outside 1 to 80 */
#define HTFAIL_NOTE_NOT_FOUND    0x80002017u /* no document or design note with that ID */
#define HTFAIL_NOTE_DELETED      0x80002018u /* the document was deleted */
#define HTFAIL_ITEM_NOT_FOUND    0x80002019u /* the document has no item of that name */
#define HTFAIL_TYPE_MISMATCH     0x8000201Au /* value cannot be converted to the type asked */
#define HTFAIL_BUFFER_TOO_SMALL  0x8000201Bu /* the value does not fit the caller's buffer */
#define HTFAIL_ATTACH_NOT_FOUND  0x8000201Cu /* the document has no attachment of that name */
#define HTFAIL_FORMULA_SYNTAX    0x8000201Du /* message names the position and what was expected */
#define HTFAIL_FORMULA_EVAL      0x8000201Eu /* a formula failed while running (wrong type, ...) */
#define HTFAIL_FTQUERY_SYNTAX    0x8000201Fu /* malformed full-text query */
#define HTFAIL_NO_FTINDEX        0x80002020u /* the database has no full-text index */
#define HTFAIL_NAME_EXISTS       0x80002021u /* a design note of that name already exists */
#define HTFAIL_NOT_A_VIEW        0x80002022u /* the identifier names no view or folder */
#define HTFAIL_NO_POSITION       0x80002023u /* the index has no current entry */
#define HTFAIL_BAD_POSITION      0x80002024u /* malformed or out-of-range position */
#define HTFAIL_NOT_FOUND         0x80002025u /* key search found nothing */
#define HTFAIL_BAD_FORMAT        0x80002026u /* unknown import/export format */
#define HTFAIL_MAIL_NO_RECIPIENT 0x80002027u /* a mail message without any recipient */
#define HTFAIL_MAIL_NO_DIRECTORY 0x80002028u /* the server has no directory database */
#define HTFAIL_REPL_FAILED       0x80002029u /* replication stopped; statistics hold the status */
#define HTFAIL_CONFLICT          0x8000202Au /* the document changed since it was opened */
#define HTFAIL_ENCRYPT_FAILED    0x8000202Bu /* encryption or decryption failed */
#define HTFAIL_NO_KEY            0x8000202Cu /* no key to decrypt the document's items */
#define HTFAIL_READ_ONLY         0x8000202Du /* the handle was opened read-only */
#define HTFAIL_CONFIG_ERROR      0x8000202Eu /* the data directory or its ini file is unusable */
#define HTFAIL_INTERNAL          0x8000202Fu /* an unexpected engine fault; the message has details */

/* ---- Fixed-size values ------------------------------------------------------------- */

/* A date-time. Opaque to callers: create it with HTDatetimeCreate, read it with
 * HTDatetimeFetch. The engine documents its encoding in engine/core/DateTime.h. */
typedef struct HTDATETIME {
  uint32_t lo;
  uint32_t hi;
} HTDATETIME;

/* A document's universal ID: four 32-bit words, W0 W1 (file part) and W2 W3 (note part). */
typedef struct UNID {
  uint32_t words[4];
} UNID;

/* A database's replica ID: two 32-bit words. */
typedef struct HTREPLICAID {
  uint32_t words[2];
} HTREPLICAID;

/* Parts of a date-time as HTDatetimeCreate takes them and HTDatetimeFetch gives them,
 * indexed by HTDATETIMEUNIT. The sub-second part HTDTUNIT_HUNDREDTH carries MILLISECONDS
 * (0 to 999) in this API, so a value converted to HTDATETIME and back keeps its
 * milliseconds. A date-time without a date part has year, month and day 0; one without a
 * time part has hour, minute, second and sub-second -1. Weekday is 1 (Sunday) to 7 on
 * fetch and ignored on create; zone is ignored on create and 0 on fetch. */
#define HTDATETIME_PART_COUNT 9

/* ---- Records ----------------------------------------------------------------------- */

/* International settings (HTGetInternational / HTSetInternational). 148 bytes. */
typedef struct HTINTERNATIONAL {
  uint32_t flags;           /* HTINTL_* bits */
  uint32_t dateOrder;       /* an HTDATEORDER value */
  char dateSeparator[4];
  char timeSeparator[4];
  char decimalSeparator[4];
  char thousandsSeparator[4];
  char currencySymbol[8];
  char amString[8];
  char pmString[8];
  int32_t timeZone;         /* minutes east of UTC */
  uint32_t daylightSaving;  /* non-zero when observed */
  uint8_t reserved[92];
} HTINTERNATIONAL;
#define HTINTL_24_HOUR 0x0001u

/* Number/date/time display format (HTGetFormat / HTSetFormat). */
typedef struct HTFORMAT {
  HTINT numberFormat; /* HTNUMBERFORMAT */
  HTINT digits;
  HTINT dateFormat;   /* HTDATEFORMAT */
  HTINT timeFormat;   /* HTTIMEFORMAT */
  HTINT zoneFormat;   /* HTZONEFORMAT */
  HTINT dateTimeFormat; /* HTDATETIMEFORMAT */
  HTINT separator;    /* HTSEPDISPLAY for lists */
  uint8_t reserved[36];
} HTFORMAT;

/* User registration (the HTUserRegister* calls). */
typedef struct HTREGISTRATION {
  const char *name;
  const char *idFile;
  const char *password;
  const char *certifierIdFile;
  const char *certifierPassword;
  HTUINT flags;
} HTREGISTRATION;

/* One list entry of HTViewList, HTFolderList, HTAgentList, HTFormList. 272 bytes. */
typedef struct HTLISTREC {
  HTID id;
  uint32_t noteClass;
  uint32_t flags;
  char name[130];        /* offset 12 */
  char secondName[130];  /* offset 142: alias, or "" */
} HTLISTREC;
#define HT_LISTREC_NAME_CAPACITY 130

/* One access-control entry (HTACLList, HTACLAdd, HTACLUpdate, HTACLLookup). 276 bytes.
 * Role i (1 to 80) is bit (i-1) mod 8 of roles[(i-1) div 8]. */
typedef struct HTACLENTRY {
  char name[256];
  int32_t level;   /* HTACLLEVEL */
  uint32_t flags;  /* HTACLFLAG_* */
  uint8_t roles[10];
  uint8_t reserved[2];
} HTACLENTRY;
#define HTACLFLAG_NO_CREATE_DOCS     0x0001u /* set: the entry may NOT create documents */
#define HTACLFLAG_NO_DELETE_DOCS     0x0004u /* set: the entry may NOT delete documents */
#define HTACLFLAG_PERSONAL_AGENTS    0x0008u /* set: may create personal agents */
#define HTACLFLAG_PERSONAL_FOLDERS   0x0010u /* set: may create personal folders */
#define HTACLFLAG_GROUP              0x0100u /* the entry names a group */
#define HTACLFLAG_SERVER             0x0200u /* the entry names a server */
/* HTACLUpdate mask bits */
#define HTACLUPDATE_NAME  1u
#define HTACLUPDATE_LEVEL 2u
#define HTACLUPDATE_ROLES 4u
#define HTACLUPDATE_FLAGS 8u
#define HT_ROLE_COUNT 80
#define HT_ROLE_NAME_CAPACITY 18 /* 17 characters and the terminator */

/* Replication statistics (HTServerReplicate). 80 bytes; the last field is the status. */
typedef struct HTREPLSTATS {
  uint32_t databases;        /* databases replicated */
  uint32_t pulledAdded;
  uint32_t pulledUpdated;
  uint32_t pulledDeleted;
  uint32_t pushedAdded;
  uint32_t pushedUpdated;
  uint32_t pushedDeleted;
  uint32_t conflicts;        /* conflict documents made */
  uint32_t errors;
  uint32_t reserved[10];
  HTSTATUS status;           /* offset 76 */
} HTREPLSTATS;

/* Full-text index statistics (HTDatabaseCreateFTIndex). 16 bytes. */
typedef struct HTFTSTATS {
  uint32_t documentsIndexed;
  uint32_t documentsDeleted;
  uint32_t bytesIndexed;
  uint32_t reserved;
} HTFTSTATS;

/* One item of HTItemList / HTFieldList: type then name. 84 bytes. */
typedef struct HTITEMLISTREC {
  HTINT type;      /* HTTYPE */
  char name[80];
} HTITEMLISTREC;

/* One attachment of HTAttachmentList. 284 bytes. */
typedef struct HTATTACHREC {
  uint32_t attachmentId; /* offset 0: the engine's identifier of the attachment */
  uint32_t size;         /* offset 4: bytes (capped at 0xFFFFFFFF) */
  uint32_t host;         /* offset 8: HTATTACHHOST */
  HTDATETIME created;    /* offset 12 */
  HTDATETIME modified;   /* offset 20 */
  char name[256];        /* offset 28 */
} HTATTACHREC;

/* View attributes (HTViewFetch). 320 bytes. */
typedef struct HTVIEWREC {
  uint16_t flags;            /* HTVIEWFLAG_* */
  uint16_t reserved0;
  HTID view;                 /* offset 4 */
  uint32_t columnCount;      /* offset 8 */
  uint32_t spacing;          /* offset 12: HTSPACE */
  uint8_t headingStyle;      /* offset 16: HTVIEWHEADING */
  uint8_t linesPerRow;       /* offset 17 */
  uint16_t reserved1;
  uint32_t unreadStyle;      /* offset 20: HTVIEWUNREAD */
  uint32_t openAt;           /* offset 24: HTVIEWOPEN */
  uint32_t backgroundColor;  /* offset 28: colour number */
  uint32_t alternateColor;   /* offset 32: colour number, used with HTVIEWFLAG_ALTERNATE_ROWS */
  uint32_t textColor;        /* offset 36 */
  char name[128];            /* offset 40 */
  char alias[128];           /* offset 168 */
  uint8_t reserved2[24];
} HTVIEWREC;
#define HTVIEWFLAG_DEFAULT        0x0001u /* the database's default view */
#define HTVIEWFLAG_FLAT           0x0002u /* responses are not shown under their parents */
#define HTVIEWFLAG_ALTERNATE_ROWS 0x0080u /* alternate rows use alternateColor */
#define HTVIEWFLAG_FOLDER         0x1000u /* the design note is a folder */
#define HTVIEWFLAG_PRIVATE        0x2000u /* a private folder of its creator */
#define HTVIEWFLAG_COLLAPSED      0x4000u /* categories open collapsed */

/* One column (HTColumnList, HTColumnFetch). 188 bytes. */
typedef struct HTCOLUMNREC {
  uint32_t flags;       /* HTCOLFLAG_* */
  uint32_t sort;        /* offset 4: HTCOLUMNSORT */
  uint32_t total;       /* offset 8: HTCOLUMNTOTAL */
  uint8_t reserved0[24];
  uint32_t isFormula;   /* offset 36: non-zero when the column is computed by a formula */
  int32_t width;        /* offset 40: eighths of a character */
  uint32_t justify;     /* offset 44: HTCOLUMNJUSTIFY of the cells */
  uint32_t reserved1;
  uint32_t headingJustify; /* offset 52: HTCOLUMNJUSTIFY of the title */
  uint8_t fontFace;     /* offset 56: HTFONT_* */
  uint8_t fontStyle;    /* offset 57: HTFONTSTYLE_* */
  uint8_t fontColor;    /* offset 58: colour number */
  uint8_t fontSize;     /* offset 59: points */
  char itemName[36];    /* offset 60: the item shown, or "" for a formula column */
  uint32_t position;    /* offset 96: 1-based column number */
  uint32_t reserved2;
  char title[81];       /* offset 104 */
  uint8_t reserved3[3];
} HTCOLUMNREC;
#define HTCOLFLAG_HIDDEN        0x0008u
#define HTCOLFLAG_RESPONSE_ONLY 0x0010u /* shows only in response rows */
#define HTCOLFLAG_ICON          0x0040u
#define HTCOLFLAG_TWISTIE       0x0400u
#define HTFONT_ROMAN     0
#define HTFONT_SWISS     1
#define HTFONT_TYPEWRITER 4
#define HTFONTSTYLE_BOLD      0x01u
#define HTFONTSTYLE_ITALIC    0x02u
#define HTFONTSTYLE_UNDERLINE 0x04u
#define HTFONTSTYLE_STRIKEOUT 0x08u

/* Special note IDs of view rows. */
#define HTNOTEID_CATEGORY 0xFFFFFFFFu
#define HTNOTEID_TOTAL    0xFFFFFFFEu

/* HTIndexNavigate flag words. */
#define HTNAVFLAG_PROBE     0x0001u /* look without moving (expandability test) */
#define HTNAVFLAG_BACKWARD  0x0002u /* the backward direction */
#define HTNAVFLAG_DOCUMENTS 0x0004u /* stop only on document rows */
#define HTNAVFLAG_SKIP_EMPTY 0x0008u /* skip rows the caller may not read */

/* HTIndexFTSearch option bits. */
#define HTFTOPT_SEARCH 0x00001u
#define HTFTOPT_REFINE 0x00010u /* with HTFTOPT_SEARCH: search within the current result */
#define HTFTOPT_CLEAR  0x10000u /* drop the search and restore the whole index */

/* HTIndexKeySearch modes. */
#define HTKEYSEARCH_EXACT   0u
#define HTKEYSEARCH_PARTIAL 3u /* leading-text match of text keys */

/* A sort key (HTIndexListKey fills `column` and `sort`; HTIndexKeySearch reads `type` and
 * `value`). The library sets type to HTTYPE_TEXT and value to a zero-terminated text. */
typedef struct HTKEYDESC {
  uint32_t column;   /* 1-based column number of the sort key */
  HTINT type;        /* HTTYPE of the value */
  const void *value; /* the key value */
  uint32_t sort;     /* HTCOLUMNSORT */
} HTKEYDESC;
#define HT_MAX_KEYS 10

/* Mail message (HTMailCreate). A null text is the empty text. */
typedef struct HTMAILREC {
  const char *sendTo;       /* recipients, separated by commas */
  const char *copyTo;
  const char *blindCopyTo;
  const char *subject;
  const char *body;
  uint32_t reserved;        /* 0 */
  uint32_t priority;        /* HTMAILPRIORITY */
  uint32_t reserved2[4];    /* 0 */
} HTMAILREC;
/* HTMailSend flags */
#define HTMAILSEND_SAVE  0x0002u /* keep a copy of the sent message in the sending database */
#define HTMAILSEND_LOCAL 0x0008u /* the sender's database is local */

/* An item of a form (HTFormCreate). Names beginning with "$" are design items, kept on the
 * form only; the others are the default items a new document of the form receives. */
typedef struct HTFORMITEM {
  const char *name;
  HTINT type;          /* HTTYPE of the value */
  HTUINT flags;        /* item flags */
  const void *value;   /* text: zero-terminated; number: double; date-time: HTDATETIME */
  HTUINT length;       /* bytes of value; 0 for a zero-terminated text */
} HTFORMITEM;

/* A column of a new view (HTViewCreate). */
typedef struct HTCOLUMNSPEC {
  const char *title;
  const char *itemName;  /* the item shown; null or "" when formula is given */
  const char *formula;   /* a column formula; null or "" for an item column */
  HTINT sort;            /* HTCOLUMNSORT */
  HTINT total;           /* HTCOLUMNTOTAL */
  HTUINT flags;          /* HTCOLFLAG_* */
  HTINT width;           /* eighths of a character */
  HTINT justify;         /* HTCOLUMNJUSTIFY */
  HTINT fontFace;        /* HTFONT_* */
  HTUINT fontStyle;      /* HTFONTSTYLE_* */
  HTINT fontColor;       /* colour number */
  HTINT fontSize;        /* points; 0 for the default 10 */
} HTCOLUMNSPEC;

/* A new view (HTViewCreate). */
typedef struct HTVIEWSPEC {
  const char *name;
  const char *alias;       /* may be null */
  const char *selection;   /* selection formula; null or "" selects every document */
  HTUINT flags;            /* HTVIEWFLAG_* */
  HTINT backgroundColor;   /* colour number */
  HTINT alternateColor;    /* colour number */
  HTUINT columnCount;
  const HTCOLUMNSPEC *columns;
} HTVIEWSPEC;

/* A new agent (HTAgentCreate). */
typedef struct HTAGENTSPEC {
  const char *name;
  const char *formula;    /* run against each document; FIELD assignments change it */
  HTINT documents;        /* HTAGENTDOCS_ALL, or HTAGENTDOCS_SELECTED_VIEW to use selection */
  const char *selection;  /* selection formula when documents is not HTAGENTDOCS_ALL */
} HTAGENTSPEC;

/* Text-list data (HTItemGetPointer with HTTYPE_TEXT_LIST): owned by the engine and valid
 * until the next call on the same document handle. Read it with the HTTextList* calls,
 * whose entry numbers start at 1. It begins with the entry count as a 32-bit
 * little-endian value, so lists of more than 255 entries are counted correctly. */

/* Error callback (HTErrorSetProcedure). */
typedef void (*HTERRORPROC)(HTSTATUS code, HTINT severity, const char *text);

/* Buffer capacities of calls without an explicit capacity argument (bytes, terminator
 * included). The engine cuts longer values to fit. */
#define HT_VERSION_CAPACITY       80  /* HTGetAPILibraryVersion, HTSESSION_NOTES_VERSION */
#define HT_SERVER_NAME_CAPACITY   128 /* server names: HTServerList, HTSESSION_LOCAL_SERVER_NAME, HTDATABASE_SERVER_NAME */
#define HT_USER_NAME_CAPACITY     256 /* HTSESSION_USER_NAME */
#define HT_TITLE_CAPACITY         128 /* HTDATABASE_TITLE, HTDatabaseList title */
#define HT_PATH_CAPACITY          256 /* HTDATABASE_FILEPATH, HTDatabaseList file, locate paths */
#define HT_PORT_REPLY_CAPACITY    128 /* HTServerSetPort reply */
#define HT_FORMAT_NAME_CAPACITY   150 /* HTCompositeListImport/Export name and extensions */
#define HT_ERROR_TEXT_CAPACITY    256 /* HTErrorGetInfo */

/* Limits on what the engine accepts; larger inputs are refused with the code named, before
 * any work is done on them. */
#define HT_MAX_FTQUERY_BYTES      65536 /* full-text query text: HTFAIL_FTQUERY_SYNTAX */
#define HT_MAX_DOCUMENT_ITEMS     1048576 /* items of one document: adding one more gives HTFAIL_INVALID_ARGUMENT */
#define HT_MAX_DOCUMENT_BYTES     268435456 /* names and values of one document's items together (256 MiB):
                                           * HTDocumentSave of a larger one gives HTFAIL_INVALID_ARGUMENT */

/* ---- Entry points ------------------------------------------------------------------ */

/* One function-pointer type per entry point: HT_<slot>_fn. */
#define HT_ENTRY(slot, exportName, ret, params, args) typedef ret(*HT_##slot##_fn) params;
#include "hitest/HTEntryPoints.def"
#undef HT_ENTRY

/* The entry points of the core library libnnotes.so. */
typedef HTSTATUS (*HT_NSFNoteSign_fn)(HTUINT noteHandle);
typedef HTUINT (*HT_OSLoadString_fn)(HTUINT module, HTSTATUS code, char *buffer, HTUINT capacity);

#define HT_ENTRY_POINT_COUNT 196

/* ---- Engine extensions (exported by the engine, not part of the table) -------------- */

/* Evaluates `formula` against document `note` of `db` (note 0: no document) and writes the
 * result rendered as text (list entries joined by "; ") into `result`, cut to `capacity`.
 * Syntax errors give HTFAIL_FORMULA_SYNTAX, run-time errors HTFAIL_FORMULA_EVAL; the
 * message of either names the position and the cause. */
typedef HTSTATUS (*HT_HTQuireEvaluate_fn)(HTDBHANDLE db, HTID note, const char *formula, HTUINT capacity, char *result);

/* Signs the open document whose handle HTDocumentGetNotesHandle gave, as the session user:
 * libnnotes' NSFNoteSign calls it. The "$Signature" item it writes is stored by the next save.
 * HTFAIL_INVALID_HANDLE when the document is no longer open. */
typedef HTSTATUS (*HT_HTQuireSignNote_fn)(HTUINT notesHandle);

/* What the engine could not read in the data directory's quire.ini the last time it read
 * it: one line per problem ("quire.ini line 3: ...") written into `text`, cut to `capacity`
 * and always terminated (`text` may be null when `capacity` is 0). Returns the number of
 * problems, 0 when every line was understood. Lines it did not understand are kept as they
 * are when the engine rewrites the file. _HTInit also records the first problem as the
 * detail of HTFAIL_CONFIG_ERROR (HTErrorGetInfo) while still succeeding. */
typedef HTUINT (*HT_HTQuireConfigWarnings_fn)(HTUINT capacity, char *text);

#ifdef __cplusplus
} /* extern "C" */

/* Record layouts: both sides must agree byte for byte. */
static_assert(sizeof(HTDATETIME) == 8);
static_assert(sizeof(UNID) == 16);
static_assert(sizeof(HTREPLICAID) == 8);
static_assert(sizeof(HTINTERNATIONAL) == 148);
static_assert(offsetof(HTINTERNATIONAL, dateOrder) == 4);
static_assert(sizeof(HTLISTREC) == 272);
static_assert(offsetof(HTLISTREC, name) == 12);
static_assert(offsetof(HTLISTREC, secondName) == 142);
static_assert(sizeof(HTACLENTRY) == 276);
static_assert(offsetof(HTACLENTRY, level) == 256);
static_assert(offsetof(HTACLENTRY, flags) == 260);
static_assert(offsetof(HTACLENTRY, roles) == 264);
static_assert(sizeof(HTREPLSTATS) == 80);
static_assert(offsetof(HTREPLSTATS, status) == 76);
static_assert(sizeof(HTFTSTATS) == 16);
static_assert(sizeof(HTITEMLISTREC) == 84);
static_assert(offsetof(HTITEMLISTREC, name) == 4);
static_assert(sizeof(HTATTACHREC) == 284);
static_assert(offsetof(HTATTACHREC, size) == 4);
static_assert(offsetof(HTATTACHREC, host) == 8);
static_assert(offsetof(HTATTACHREC, name) == 28);
static_assert(sizeof(HTVIEWREC) == 320);
static_assert(offsetof(HTVIEWREC, linesPerRow) == 17);
static_assert(offsetof(HTVIEWREC, openAt) == 24);
static_assert(offsetof(HTVIEWREC, backgroundColor) == 28);
static_assert(offsetof(HTVIEWREC, alternateColor) == 32);
static_assert(offsetof(HTVIEWREC, name) == 40);
static_assert(sizeof(HTCOLUMNREC) == 188);
static_assert(offsetof(HTCOLUMNREC, sort) == 4);
static_assert(offsetof(HTCOLUMNREC, isFormula) == 36);
static_assert(offsetof(HTCOLUMNREC, width) == 40);
static_assert(offsetof(HTCOLUMNREC, justify) == 44);
static_assert(offsetof(HTCOLUMNREC, headingJustify) == 52);
static_assert(offsetof(HTCOLUMNREC, fontFace) == 56);
static_assert(offsetof(HTCOLUMNREC, fontSize) == 59);
static_assert(offsetof(HTCOLUMNREC, position) == 96);
static_assert(offsetof(HTCOLUMNREC, title) == 104);
static_assert(offsetof(HTKEYDESC, value) % alignof(const void *) == 0);
static_assert(offsetof(HTMAILREC, priority) == 5 * sizeof(const char *) + 4);
#endif

#endif /* HITEST_HITEST_H */
