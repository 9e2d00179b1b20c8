// DXL loading and saving: real documents, typed values, malformed input.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>

#include "lsxsessi.h"
#include "nn/nn.h"
#include "rtchunk.h"
#include "rtitem.h"
#include "support/testutil.h"

namespace {

struct TempDir {
  std::string path = kvtest::MakeTempDir();
  ~TempDir() { kvtest::RemoveTree(path); }
  std::string file(const std::string& name, const std::string& content) const {
    std::string p = path + "/" + name;
    kvtest::WriteFile(p, content);
    return p;
  }
};

std::string valueBytes(const NnItemDesc& d) {
  const char* p = static_cast<const char*>(NnBlockLock(d.value));
  std::string s = p ? std::string(p, d.valueLen) : std::string();
  NnBlockUnlock(d.value);
  return s;
}

// Every note, item and attachment of two databases is the same; with
// `identities`, their replica and universal ids too (ids a file does not give
// are derived from its path).
void expectSameDatabases(NnHandle a, NnHandle b, const std::string& what, bool identities = true) {
  ASSERT_EQ(NnDbNoteCount(a), NnDbNoteCount(b)) << what;
  NnReplicaInfo ra{}, rb{};
  ASSERT_EQ(NnDbGetReplicaInfo(a, &ra), NN_OK);
  ASSERT_EQ(NnDbGetReplicaInfo(b, &rb), NN_OK);
  if (identities) {
    EXPECT_EQ(0, std::memcmp(&ra.ID, &rb.ID, sizeof ra.ID)) << what;
  }
  for (uint32_t i = 0; i < NnDbNoteCount(a); ++i) {
    NOTEID ia = 0, ib = 0;
    ASSERT_EQ(NnDbNoteIdAt(a, i, &ia), NN_OK);
    ASSERT_EQ(NnDbNoteIdAt(b, i, &ib), NN_OK);
    EXPECT_EQ(ia, ib) << what;
    NnHandle na = 0, nb = 0;
    ASSERT_EQ(NnNoteOpen(a, ia, 0, &na), NN_OK);
    ASSERT_EQ(NnNoteOpen(b, ib, 0, &nb), NN_OK);
    ORIGINATORID_tag oa{}, ob{};
    uint16_t ca = 0, cb = 0;
    NnNoteGetInfo(na, NN_NOTE_INFO_OID, &oa);
    NnNoteGetInfo(nb, NN_NOTE_INFO_OID, &ob);
    NnNoteGetInfo(na, NN_NOTE_INFO_CLASS, &ca);
    NnNoteGetInfo(nb, NN_NOTE_INFO_CLASS, &cb);
    if (identities) {
      EXPECT_EQ(0, std::memcmp(&oa, &ob, 16)) << what << " note " << i;  // File and Note
    }
    EXPECT_EQ(oa.Sequence, ob.Sequence) << what;
    EXPECT_EQ(ca, cb) << what;
    ASSERT_EQ(NnNoteItemCount(na), NnNoteItemCount(nb)) << what << " note " << i;
    for (uint32_t k = 0; k < NnNoteItemCount(na); ++k) {
      NnItemDesc da, db;
      ASSERT_EQ(NnNoteItemAt(na, k, &da), NN_OK);
      ASSERT_EQ(NnNoteItemAt(nb, k, &db), NN_OK);
      EXPECT_EQ(da.name, db.name) << what;
      EXPECT_EQ(da.type, db.type) << what << " item " << da.name;
      EXPECT_EQ(da.flags, db.flags) << what << " item " << da.name;
      EXPECT_EQ(valueBytes(da), valueBytes(db)) << what << " item " << da.name;
      if (da.type == NN_TYPE_OBJECT) {
        const char* v = static_cast<const char*>(NnBlockLock(da.value));
        uint16_t nameLen;
        std::memcpy(&nameLen, v + 2 + 6, 2);
        std::string file(v + 2 + 36, nameLen);
        uint32_t sa = 0, sb = 0;
        EXPECT_EQ(NnDbGetObjectSize(a, ia, file.c_str(), &sa), NN_OK) << what << " " << file;
        EXPECT_EQ(NnDbGetObjectSize(b, ib, file.c_str(), &sb), NN_OK) << what << " " << file;
        EXPECT_EQ(sa, sb);
      }
    }
    NnNoteClose(na);
    NnNoteClose(nb);
  }
}

const char* kTyped = R"(<?xml version='1.0' encoding='utf-8'?>
<database xmlns='http://www.lotus.com/dxl' replicaid='0123456789ABCDEF'>
<note class='form' default='true'>
<noteinfo noteid='1a2' unid='00112233445566778899AABBCCDDEEFF' sequence='7'>
<created><datetime>20200102T030405,06+00</datetime></created></noteinfo>
<item name='Title' summary='true' sign='true'><text>one<break/>two</text></item>
<item name='List'><textlist><text>a</text><text/><text>c</text></textlist></item>
<item name='Num'><number>1.5</number></item>
<item name='Nums'><numberlist><number>1</number><number>-2.25</number></numberlist></item>
<item name='When'><datetime>20210516T111915,37-04</datetime></item>
<item name='Span'><datetimepair><datetime>20210101T000000,00+00</datetime><datetime>20210102T000000,00+00</datetime></datetimepair></item>
<item name='$Formula'><formula>@If(a;"x";
 "y")</formula></item>
<item name='Body' readers='true'><rawitemdata type='1'>gQKDBAEA</rawitemdata></item>
<item name='Body'><rawitemdata type='1'></rawitemdata></item>
<item name='Empty'><rawitemdata type='0'></rawitemdata></item>
<item name='Rich'><richtext><par def='1'>Hello &amp; <run>bye</run></par></richtext></item>
<item name='$FILE' summary='true'><object><file hosttype='msdos' compression='none' flags='storedindoc' encoding='none' name='a.txt' size='5'>
<filedata>aGVsbG8=</filedata></file></object></item>
</note>
<sharedfield name='f'><item name='$Body'><text>field</text></item></sharedfield>
<note><item name='Plain'><text>doc</text></item></note>
</database>
)";

TEST(DxlLoad, TypedValuesLandInCanonicalForm) {
  TempDir tmp;
  std::string path = tmp.file("typed.xml", kTyped);
  NnHandle db = 0;
  ASSERT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_OK) << NnDbLastLoadError();
  ASSERT_EQ(NnDbNoteCount(db), 3u);
  NOTEID id = 0;
  ASSERT_EQ(NnDbNoteIdAt(db, 0, &id), NN_OK);
  EXPECT_EQ(id, 0x1A2u);
  NnReplicaInfo rep{};
  NnDbGetReplicaInfo(db, &rep);
  EXPECT_EQ(rep.ID.Innards[1], 0x01234567u);
  EXPECT_EQ(rep.ID.Innards[0], 0x89ABCDEFu);

  UNIVERSALNOTEID_tag unid{{{0x44556677, 0x00112233}}, {{0xCCDDEEFF, 0x8899AABB}}};
  NnHandle note = 0;
  ASSERT_EQ(NnNoteOpenByUnid(db, &unid, 0, &note), NN_OK);
  uint16_t cls = 0;
  NnNoteGetInfo(note, NN_NOTE_INFO_CLASS, &cls);
  EXPECT_EQ(cls, NN_CLASS_FORM);

  char buf[64];
  EXPECT_EQ(NnItemGetText(note, "title", buf, sizeof buf), 7);
  EXPECT_STREQ(buf, "one\ntwo");
  EXPECT_EQ(NnItemConvertToText(note, "List", buf, sizeof buf, ';'), 4);
  EXPECT_STREQ(buf, "a;;c");
  NnItemConvertToText(note, "Num", buf, sizeof buf, ',');
  EXPECT_STREQ(buf, "1.5");
  NnItemConvertToText(note, "Nums", buf, sizeof buf, ',');
  EXPECT_STREQ(buf, "1,-2.25");

  uint16_t type = 0;
  uint32_t len = 0;
  NnBlockId item, value;
  ASSERT_EQ(NnItemInfo(note, "When", 0, &item, &type, &value, &len), NN_OK);
  EXPECT_EQ(type, NN_TYPE_TIME);
  EXPECT_EQ(len, 10u);
  ASSERT_EQ(NnItemInfo(note, "Span", 0, nullptr, &type, nullptr, &len), NN_OK);
  EXPECT_EQ(type, NN_TYPE_TIME_RANGE);
  EXPECT_EQ(len, 2u + 4u + 16u);

  // Formula source is kept exactly, line break and leading space included.
  ASSERT_EQ(NnItemInfo(note, "$Formula", 8, nullptr, &type, &value, &len), NN_OK);
  EXPECT_EQ(type, NN_TYPE_FORMULA);
  std::string f(static_cast<const char*>(NnBlockLock(value)) + 2, len - 2);
  EXPECT_EQ(f, "@If(a;\"x\";\n \"y\")");

  // Two segments of one name, in document order, with their own flags.
  NnItemDesc first;
  ASSERT_EQ(NnItemInfo(note, "BODY", 4, &item, &type, &value, &len), NN_OK);
  EXPECT_EQ(type, NN_TYPE_COMPOSITE);
  EXPECT_EQ(len, 8u);
  NnBlockId next;
  ASSERT_EQ(NnItemInfoNext(note, item, "Body", 4, &next, &type, &value, &len), NN_OK);
  EXPECT_EQ(len, 2u);
  EXPECT_EQ(NnItemInfoNext(note, next, "Body", 4, nullptr, nullptr, nullptr, nullptr),
            NN_ERR_ITEM_NOT_FOUND);
  ASSERT_EQ(NnNoteItemAt(note, item.index - 1, &first), NN_OK);
  EXPECT_EQ(first.flags, NN_ITEM_READERS);

  // Structured rich text is listed as such, its value the type word alone.
  ASSERT_EQ(NnItemInfo(note, "Rich", 0, nullptr, &type, nullptr, &len), NN_OK);
  EXPECT_EQ(type, NN_TYPE_STRUCTURED_RICHTEXT);
  EXPECT_EQ(len, 2u);

  uint32_t size = 0;
  EXPECT_EQ(NnDbGetObjectSize(db, id, "A.TXT", &size), NN_OK);
  EXPECT_EQ(size, 5u);
  NnNoteClose(note);

  // A non-note element holding items is a note of the class its name gives.
  ASSERT_EQ(NnDbNoteIdAt(db, 1, &id), NN_OK);
  NnDbGetNoteInfo(db, id, nullptr, nullptr, &cls);
  EXPECT_EQ(cls, NN_CLASS_FIELD);
  ASSERT_EQ(NnDbNoteIdAt(db, 2, &id), NN_OK);
  NnDbGetNoteInfo(db, id, nullptr, nullptr, &cls);
  EXPECT_EQ(cls, NN_CLASS_DOCUMENT);
  // The unknown content is written back to the byte; the rest of the round
  // trip is a row of the open-then-save sweep below.
  std::string saved = tmp.path + "/saved.xml";
  ASSERT_EQ(NnDbSaveDxl(db, saved.c_str()), NN_OK);
  const std::string xml = kvtest::ReadFile(saved);
  EXPECT_NE(xml.find("<richtext><par def=\"1\">Hello &amp; <run>bye</run></par></richtext>"),
            std::string::npos)
      << xml;
  NnDbClose(db);
}

TEST(DxlLoad, NotesWithoutNoteInfoGetStableIds) {
  TempDir tmp;
  std::string doc = "<note class='view'><item name='A'><text>x</text></item></note>";
  std::string path = tmp.file("plain.xml", doc);
  ORIGINATORID_tag first{}, second{};
  NOTEID id = 0;
  for (ORIGINATORID_tag* oid : {&first, &second}) {
    NnHandle db = 0;
    ASSERT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_OK);
    ASSERT_EQ(NnDbNoteIdAt(db, 0, &id), NN_OK);
    EXPECT_NE(id, 0u);
    ASSERT_EQ(NnDbGetNoteInfo(db, id, oid, nullptr, nullptr), NN_OK);
    NnDbClose(db);  // the last close drops it, so the next open loads again
  }
  EXPECT_EQ(0, std::memcmp(&first, &second, 16));
  EXPECT_NE(first.Note.Innards[0] | first.Note.Innards[1], 0u);
}

struct BadCase {
  const char* what;
  const char* doc;
  const char* message;  // a part of the expected message
  int line;
};

TEST(DxlLoad, MalformedDocumentsLoadNothing) {
  const BadCase cases[] = {
      {"truncated base64", "<note>\n<item name='B'>\n<rawitemdata type='1'>gQKC/1o</rawitemdata></item></note>",
       "base64", 3},
      {"base64 outside the alphabet", "<note><item name='B'><rawitemdata type='5'>gQ!C</rawitemdata></item></note>",
       "base64", 1},
      {"record running past the item's end",
       "<note>\n<item name='Good'><text>x</text></item>\n\n<item name='Body'><rawitemdata type='1'>gQKDCAAA</rawitemdata></item></note>",
       "past the item's end", 4},
      {"record length below its header",
       "<note><item name='Body'><rawitemdata type='1'>X/8CAA==</rawitemdata></item></note>", "header size", 1},
      {"bad type", "<note><item name='B'><rawitemdata type='zz'>AAAA</rawitemdata></item></note>", "type", 1},
      {"malformed XML", "<note>\n<item name='a'><text>x</item></note>", "", 2},
      {"no DXL root", "<html>\n<body><p>x</p></body></html>", "<html> is neither a DXL database nor a note", 1},
      {"bad second note",
       "<database><note><item name='A'><text>x</text></item></note>\n<note><item name='B'><rawitemdata "
       "type='1'>gQ</rawitemdata></item></note></database>",
       "base64", 2},
  };
  TempDir tmp;
  for (const BadCase& c : cases) {
    std::string path = tmp.file("bad.xml", c.doc);
    NnLogClear();
    NnHandle db = 0;
    EXPECT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_ERR_DXL) << c.what;
    std::string err = NnDbLastLoadError();
    EXPECT_EQ(err.rfind(path + ":" + std::to_string(c.line) + ": ", 0), 0u) << c.what << ": " << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << c.what << ": " << err;
    EXPECT_NE(NnLogCaptured().find(err), std::string::npos) << c.what;
    // Another thread's load neither clears nor replaces this thread's error.
    std::thread([&] {
      NnHandle other = 0;
      EXPECT_EQ(NnDbOpen(KV_SOURCE_DIR "/examples/sample.dxl", 0, &other), NN_OK);
      EXPECT_TRUE(NnDbLastLoadError().empty());
      NnDbClose(other);
    }).join();
    EXPECT_EQ(NnDbLastLoadError(), err) << c.what;
    // Nothing was registered: the path loads afresh once the file is fixed.
    kvtest::WriteFile(path, "<note><item name='Fixed'><text>ok</text></item></note>");
    ASSERT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_OK) << c.what;
    EXPECT_EQ(NnDbNoteCount(db), 1u);
    EXPECT_TRUE(NnDbLastLoadError().empty());
    NnDbClose(db);
  }
}

TEST(DxlLoad, MissingFilesAndCreation) {
  TempDir tmp;
  std::string path = tmp.path + "/none.nsf";
  NnHandle db = 0;
  EXPECT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_ERR_FILE_NOT_FOUND);
  ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db), NN_OK);
  EXPECT_EQ(NnDbNoteCount(db), 0u);
  // A second open of the same path shares the database.
  NnHandle other = 0;
  ASSERT_EQ(NnDbOpen(path.c_str(), 0, &other), NN_OK);
  EXPECT_NE(db, other);
  NnHandle note = 0;
  ASSERT_EQ(NnNoteCreate(db, NN_CLASS_DOCUMENT, &note), NN_OK);
  ASSERT_EQ(NnNoteUpdate(note, 0), NN_OK);
  EXPECT_EQ(NnDbNoteCount(other), 1u);
  NnNoteClose(note);
  char buf[8];
  EXPECT_EQ(NnDbGetPath(db, buf, sizeof buf), NN_ERR_MEMORY);
  EXPECT_EQ(std::strlen(buf), 7u);
  NnReplicaInfo r1{}, r2{};
  NnDbGetReplicaInfo(db, &r1);
  NnDbClose(db);
  NnDbClose(other);
  EXPECT_EQ(NnDbClose(other), NN_ERR_BAD_HANDLE);
  ASSERT_EQ(NnDbOpen(path.c_str(), NN_DB_CREATE, &db), NN_OK);
  EXPECT_EQ(NnDbNoteCount(db), 0u);  // dropped at its last close
  NnDbGetReplicaInfo(db, &r2);
  EXPECT_EQ(0, std::memcmp(&r1.ID, &r2.ID, sizeof r1.ID));
  NnDbClose(db);
}

// ---- Open then save: every note element, and whatever the loader does not read ----

// Structured DXL as exports write it: a form with its document type, its
// script options and events (script text with entities, a CDATA section),
// actions (one shared), and in its body fields with their events and
// choices, a table with a table nested in a cell, a computed text, a section
// holding a link, a button, and a comment.
const char* kStructuredForm = R"(<?xml version='1.0' encoding='utf-8'?>
<!DOCTYPE form SYSTEM 'xmlschemas/domino_9_0_1.dtd'>
<form name='Order' alias='O|Order' xmlns='http://www.lotus.com/dxl' version='9.0' replicaid='80257A6A002CAD3E' publicaccess='false' default='true'>
<noteinfo noteid='2e6' unid='6F1D5E2A3C4B5A6980257A6A002CAD3E' sequence='4'>
<created><datetime dst='true'>20120910T101500,00+01</datetime></created>
<modified><datetime>20130101T120000,00+00</datetime></modified>
<revised><datetime>20130101T115959,99+00</datetime></revised></noteinfo>
<updatedby><name>CN=Ann Smith/O=Acme</name><name>CN=Bob Jones/O=Acme</name></updatedby>
<globals><code event='options'><lotusscript>Option Public
Option Declare</lotusscript></code></globals>
<code event='windowtitle'><formula>"Order: " + Customer</formula></code>
<code event='postopen'><lotusscript>Sub Postopen(Source As Notesuidocument)
	If Source.IsNewDoc Then Messagebox "New &amp; shiny &lt;order&gt;"
End Sub</lotusscript></code>
<code event='jsHeader'><javascript><![CDATA[function f() { return 1 < 2 && 3 > 2; }]]></javascript></code>
<actionbar bgcolor='#f0f0f0'><actionbuttonstyle bgcolor='#ece9d8'/><font color='system'/>
<action title='Submit' icon='9'><code event='click'><formula>@Command([FileSave]);
@Command([FileCloseWindow])</formula></code></action>
<sharedactionref id='1'><action title='Shared'><code event='click'><lotusscript>Sub Click(Source As Button)
End Sub</lotusscript></code></action></sharedactionref></actionbar>
<body><richtext>
<pardef id='1' leftmargin='1in' tabs='L2in R4in'/>
<par def='1'><run><font size='14pt' style='bold' color='navy' name='Arial'/>Customer:</run> <field type='text' kind='editable' name='Customer'><code event='defaultvalue'><formula>@UserName</formula></code><code event='inputvalidation'><formula>@If(Customer = ""; @Failure("Who?"); @Success)</formula></code></field></par>
<!-- the order lines -->
<table widthtype='fixedleft' refwidth='4in'><tablecolumn width='2in'/><tablecolumn width='2in'/>
<tablerow><tablecell bgcolor='#e0e0e0'><par def='1'>Item</par></tablecell><tablecell><pardef id='2' hide='read'/><par def='2'><field type='keyword' kind='editable' name='Kind' allowmultivalues='true'><keywords ui='checkbox' columns='2'><textlist><text>Pens</text><text>Ink</text></textlist></keywords></field></par></tablecell></tablerow>
<tablerow><tablecell columnspan='2'><table><tablecolumn width='1in'/><tablerow><tablecell><par def='1'>nested</par></tablecell></tablerow></table></tablecell></tablerow></table>
<par def='1'>Entered by <computedtext><code event='value'><formula>@UserName</formula></code></computedtext></par>
<section onread='collapse'><sectiontitle pardef='2'><font style='bold'/><text>More</text></sectiontitle>
<par def='1'>See <urllink href='https://example.com/?a=1&amp;b=2'><run><font style='underline'/>the site</run></urllink></par></section>
<par def='1'><button width='2in' bgcolor='system'><code event='click'><lotusscript>Sub Click(Source As Button)
End Sub</lotusscript></code>Say hi</button></par>
</richtext></body>
<item name='$Info' sign='true'><rawitemdata type='1'>hhgBAIAAAAAAgAAAAQABAP///wAQAAAA</rawitemdata></item>
<item name='Count' summary='false'><number>1.0</number></item>
</form>
)";

// A database of notes of several classes, with what surrounds them.
const char* kStructuredDatabase = R"(<?xml version='1.0' encoding='utf-8'?>
<database xmlns='http://www.lotus.com/dxl' version='9.0' replicaid='0123456789ABCDEF' title='Orders'>
<databaseinfo dbid='0123456789ABCDEF' odsversion='51'><datamodified><datetime>20200101T000000,00+00</datetime></datamodified></databaseinfo>
<launchsettings><noteslaunch whenopened='openframeset'/></launchsettings>
<document form='Order'>
<noteinfo noteid='8fa' unid='5A1B2C3D4E5F60718293A4B5C6D7E8F9' sequence='2'/>
<item name='Subject'><text>Pens &amp; ink</text></item>
<item name='Body'><richtext><pardef id='1'/><par def='1'>Ten <run><font style='bold'/>boxes</run></par>
<table><tablerow><tablecell><par def='1'>a</par></tablecell></tablerow></table></richtext></item>
<!-- checked by hand -->
<item name='Raw' sign='true'><rawitemdata type='1'>gQKF/wsAAQAACk9uZQA=</rawitemdata></item>
<item name='When'><datetime dst='true'>20120910T101500,00+01</datetime></item>
<item name='Ratio'><number>1.50</number></item>
<item name='Odd'><text>a</text><text>b</text></item>
<item name='Empty'/>
</document>
<page name='Home'><body><richtext><par>Welcome</par></richtext></body></page>
<helpaboutdocument><body><richtext><par>About</par></richtext></body></helpaboutdocument>
<view name='All'><code event='selection'><formula>SELECT @All</formula></code></view>
<acl><aclentry name='-Default-' level='reader'/></acl>
</database>
)";

// A page, an about document and a using document on their own, with no item
// at all.
const char* kStructuredPage = R"(<?xml version='1.0' encoding='utf-8'?>
<page name='Home' xmlns='http://www.lotus.com/dxl' version='9.0'><code event='jsHeader'><javascript>var x = 1;</javascript></code>
<body><richtext><par>Hi <imagemap><picture><imageref name='logo.gif'/></picture><area type='rectangle'><point x='0' y='0'/><point x='9' y='9'/><urllink href='/'/></area></imagemap></par></richtext></body></page>
)";
const char* kStructuredAbout = R"(<?xml version='1.0' encoding='utf-8'?>
<helpaboutdocument xmlns='http://www.lotus.com/dxl' version='9.0'><noteinfo noteid='116' unid='0AB1D5E2A3C4B5A6980257A6A002CAD3' sequence='3'/>
<body><richtext><pardef id='1' align='center'/><par def='1'>Orders &#x2014; <run><font style='bold'/>about</run></par></richtext></body></helpaboutdocument>
)";
const char* kStructuredUsing = R"(<?xml version='1.0' encoding='utf-8'?>
<helpusingdocument xmlns='http://www.lotus.com/dxl' version='9.0'><body><richtext><par>Click.</par></richtext></body></helpusingdocument>
)";

// The element tree as text, attribute order, namespace declarations and white
// space aside (base64 is wrapped differently by different writers; the values
// are compared exactly through the database).
void canonical(xmlNode* n, std::string& out) {
  for (; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE) {
      std::vector<std::string> attributes;
      for (xmlAttr* a = n->properties; a; a = a->next) {
        xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
        attributes.push_back(std::string(reinterpret_cast<const char*>(a->name)) + "='" +
                             (v ? reinterpret_cast<const char*>(v) : "") + "'");
        xmlFree(v);
      }
      std::sort(attributes.begin(), attributes.end());
      out += std::string("<") + (n->ns ? reinterpret_cast<const char*>(n->ns->href) : "") + ":" +
             reinterpret_cast<const char*>(n->name);
      for (const std::string& a : attributes) out += " " + a;
      out += ">";
      canonical(n->children, out);
      out += "</>";
    } else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
      for (const xmlChar* p = n->content; p && *p; ++p)
        if (!std::isspace(*p)) out += char(*p);
    } else if (n->type == XML_COMMENT_NODE) {
      out += std::string("<!--") + reinterpret_cast<const char*>(n->content) + "-->";
    }
  }
}

std::string canonicalXml(const std::string& path) {
  xmlDoc* doc = xmlReadFile(path.c_str(), nullptr,
                            XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  if (!doc) return "(not XML)";
  std::string out;
  canonical(xmlDocGetRootElement(doc), out);
  xmlFreeDoc(doc);
  return out;
}

void expectSameXml(const std::string& original, const std::string& saved, const std::string& what) {
  const std::string a = canonicalXml(original), b = canonicalXml(saved);
  if (a == b) return;
  size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const size_t from = at > 120 ? at - 120 : 0;
  ADD_FAILURE() << what << " differs after " << a.substr(from, at - from) << "\n  file:  "
                << a.substr(at, 160) << "\n  saved: " << b.substr(at, 160);
}

// The table: every DXL file of the corpus, and the structured files above.
std::vector<std::string> RoundTripFiles(const TempDir& tmp) {
  std::vector<std::string> files = {tmp.file("form.xml", kStructuredForm),
                                    tmp.file("database.xml", kStructuredDatabase),
                                    tmp.file("page.xml", kStructuredPage),
                                    tmp.file("about.xml", kStructuredAbout),
                                    tmp.file("using.xml", kStructuredUsing),
                                    tmp.file("typed.xml", kTyped)};
  const std::string corpus = kvtest::CorpusDir();
  if (!corpus.empty() && std::filesystem::is_directory(corpus + "/dxl"))
    for (const std::string& f : kvtest::FilesBelow(corpus + "/dxl")) files.push_back(f);
  return files;
}

// Whether a file gives its replica id and every note's universal id: ids it
// does not give are derived from its path, so they differ once it is saved
// elsewhere.
bool identitiesGiven(const std::string& text, uint32_t notes) {
  uint32_t given = 0;
  for (size_t at = text.find("<noteinfo"); at != std::string::npos; at = text.find("<noteinfo", at + 1))
    given += text.substr(at, text.find('>', at) - at).find(" unid=") != std::string::npos;
  return text.find("replicaid=") != std::string::npos && given == notes;
}

TEST(DxlRoundTrip, OpenThenSaveLosesNothing) {
  TempDir tmp;
  int n = 0;
  for (const std::string& f : RoundTripFiles(tmp)) {
    NnHandle a = 0, b = 0;
    ASSERT_EQ(NnDbOpen(f.c_str(), 0, &a), NN_OK) << NnDbLastLoadError();
    EXPECT_GE(NnDbNoteCount(a), 1u) << f;
    const std::string saved = tmp.path + "/saved" + std::to_string(n++) + ".xml";
    ASSERT_EQ(NnDbSaveDxl(a, saved.c_str()), NN_OK) << f;
    expectSameXml(f, saved, f);
    if (kvtest::ReadFile(f).find("<!DOCTYPE form") != std::string::npos) {
      EXPECT_NE(kvtest::ReadFile(saved).find("<!DOCTYPE form"), std::string::npos) << f;
    }
    ASSERT_EQ(NnDbOpen(saved.c_str(), 0, &b), NN_OK) << f << ": " << NnDbLastLoadError();
    expectSameDatabases(a, b, f, identitiesGiven(kvtest::ReadFile(f), NnDbNoteCount(a)));
    NnDbClose(a);
    NnDbClose(b);
  }
}

// Structured rich text is listed with its type, and whoever reads it is told
// that it is not read; the note's other items read as ever.
TEST(DxlRoundTrip, StructuredRichTextIsListedAndNotRead) {
  TempDir tmp;
  const std::string path = tmp.file("database.xml", kStructuredDatabase);
  NnHandle db = 0, note = 0;
  ASSERT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_OK) << NnDbLastLoadError();
  ASSERT_EQ(NnDbNoteCount(db), 5u);  // document, page, about document, view, acl
  NOTEID id = 0;
  ASSERT_EQ(NnDbNoteIdAt(db, 0, &id), NN_OK);
  ASSERT_EQ(NnNoteOpen(db, id, 0, &note), NN_OK);
  uint16_t type = 0;
  ASSERT_EQ(NnItemInfo(note, "Body", 0, nullptr, &type, nullptr, nullptr), NN_OK);
  EXPECT_EQ(type, NN_TYPE_STRUCTURED_RICHTEXT);
  {
    LSXLsiSession session;
    TorvoRTItem item(&session);
    EXPECT_EQ(item.ConnectBackend(db, note, "Body"), NN_ERR_STRUCTURED_RICHTEXT);
    // Bound all the same: reads and writes say why, and nothing changes.
    std::unique_ptr<TorvoRTChunk> body(item.DefineChunk(""));
    EXPECT_EQ(body->AppendText("x", 1, nullptr), NN_ERR_STRUCTURED_RICHTEXT);
    EXPECT_EQ(body->SetText("Text 1", "x", 0, nullptr), NN_ERR_STRUCTURED_RICHTEXT);
    char none[8];
    EXPECT_EQ(body->GetText("", none, sizeof none, 0, nullptr), 0u);
    EXPECT_EQ(body->lastStatus, NN_ERR_STRUCTURED_RICHTEXT);
    EXPECT_EQ(item.modified, 0);
    ASSERT_EQ(NnItemInfo(note, "Body", 0, nullptr, &type, nullptr, nullptr), NN_OK);
    EXPECT_EQ(type, NN_TYPE_STRUCTURED_RICHTEXT);
    body.reset();
    // Bound by path, the same.
    TorvoRTItem byPath(&session);
    EXPECT_EQ(byPath.Connect("", path.c_str(), id, "Body", 0), NN_ERR_STRUCTURED_RICHTEXT);
    EXPECT_EQ(std::unique_ptr<TorvoRTChunk>(byPath.DefineChunk(""))->AppendText("x", 1, nullptr),
              NN_ERR_STRUCTURED_RICHTEXT);
    ASSERT_EQ(item.ConnectBackend(db, note, "Raw"), NN_OK);
    std::unique_ptr<TorvoRTChunk> chunk(item.DefineChunk(""));
    char text[16] = {};
    chunk->GetText("", text, sizeof text, 0, nullptr);
    EXPECT_STREQ(text, "One");
  }
  NnNoteClose(note);
  // The page's body is its "$Body".
  ASSERT_EQ(NnDbNoteIdAt(db, 1, &id), NN_OK);
  ASSERT_EQ(NnNoteOpen(db, id, 0, &note), NN_OK);
  ASSERT_EQ(NnItemInfo(note, "$Body", 0, nullptr, &type, nullptr, nullptr), NN_OK);
  EXPECT_EQ(type, NN_TYPE_STRUCTURED_RICHTEXT);
  NnNoteClose(note);
  NnDbClose(db);

  const std::string kv = kvtest::KveditPath();
  const auto info = kvtest::RunCommand({kv, "info", path});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("\n  Body structured-richtext 0\n"), std::string::npos) << info.out;
  for (const char* command : {"render", "records", "text"}) {
    const auto r = kvtest::RunCommand({kv, command, path, "--note", "#1", "--item", "Body"});
    EXPECT_EQ(r.exitCode, 2) << command;
    ASSERT_EQ(kvtest::SplitLines(r.err).size(), 1u) << command << ": " << r.err;
    EXPECT_NE(r.err.find("item Body"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Structured rich text is not read (export with raw item data)"), std::string::npos)
        << r.err;
  }
  EXPECT_EQ(kvtest::RunCommand({kv, "records", path, "--note", "#1", "--item", "Raw"}).exitCode, 0);
  // Without --item every other item is listed, and the one not read says so.
  const auto all = kvtest::RunCommand({kv, "records", path, "--note", "#1"});
  EXPECT_EQ(all.exitCode, 2);
  EXPECT_NE(all.out.find(" item Raw segments 1 "), std::string::npos) << all.out;
  EXPECT_EQ(kvtest::SplitLines(all.err).size(), 1u) << all.err;
}

// An item rewritten through the library stays where it stood among the
// note's items, with its flags, and the rest of the file stays as it was.
TEST(DxlRoundTrip, AnEditedItemKeepsItsPlace) {
  TempDir tmp;
  const std::string path = tmp.file("database.xml", kStructuredDatabase);
  auto names = [](NnHandle db) {
    std::vector<std::string> out;
    NOTEID id = 0;
    NnHandle note = 0;
    if (NnDbNoteIdAt(db, 0, &id) != NN_OK || NnNoteOpen(db, id, 0, &note) != NN_OK) return out;
    for (uint32_t i = 0; i < NnNoteItemCount(note); ++i) {
      NnItemDesc d;
      NnNoteItemAt(note, i, &d);
      out.push_back(d.name + " " + std::to_string(d.flags));
    }
    NnNoteClose(note);
    return out;
  };
  NnHandle db = 0, note = 0;
  ASSERT_EQ(NnDbOpen(path.c_str(), 0, &db), NN_OK);
  const std::vector<std::string> before = names(db);
  NOTEID id = 0;
  ASSERT_EQ(NnDbNoteIdAt(db, 0, &id), NN_OK);
  ASSERT_EQ(NnNoteOpen(db, id, 0, &note), NN_OK);
  {
    LSXLsiSession session;
    TorvoRTItem item(&session);
    ASSERT_EQ(item.ConnectBackend(db, note, "Raw"), NN_OK);
    std::unique_ptr<TorvoRTChunk> chunk(item.DefineChunk(""));
    ASSERT_EQ(chunk->AppendText(" more", 5, "Garamond"), NN_OK);  // a new face: a "$Fonts" item
  }
  ASSERT_EQ(NnItemSetText(note, "Subject", "Ink", 3), NN_OK);
  ASSERT_EQ(NnNoteUpdate(note, 0), NN_OK);
  NnNoteClose(note);
  const std::string saved = tmp.path + "/saved.xml";
  ASSERT_EQ(NnDbSaveDxl(db, saved.c_str()), NN_OK);
  NnDbClose(db);
  ASSERT_EQ(NnDbOpen(saved.c_str(), 0, &db), NN_OK) << NnDbLastLoadError();
  std::vector<std::string> after = names(db);
  after.pop_back();  // the new font table comes last
  EXPECT_EQ(after, before);
  NnDbClose(db);
  // Beyond the edited note, the file is as it was.
  const std::string a = canonicalXml(path), b = canonicalXml(saved);
  const size_t notesEnd = a.find("<http://www.lotus.com/dxl:page");
  ASSERT_NE(notesEnd, std::string::npos);
  EXPECT_EQ(b.substr(b.size() - (a.size() - notesEnd)), a.substr(notesEnd));
  EXPECT_NE(b.find("sequence='3'"), std::string::npos);
}

}  // namespace
