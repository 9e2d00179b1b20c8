// kvedit: the command-line face of the rich-text engine.
//
// Exit status: 0 success, 1 usage error, 2 input error (one line on stderr),
// 3 when a round trip differs.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/pool.h"
#include "lsxsessi.h"
#include "nn/nn.h"
#include "richtext/engine/opcodes.h"
#include "richtext/item/cdlayout.h"
#include "richtext/item/recordlist.h"
#include "rtchunk.h"
#include "rtitem.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitInput = 2;
constexpr int kExitDiffers = 3;

struct Failure {
  int code;
  std::string message;
};

[[noreturn]] void Fail(int code, const std::string& message) { throw Failure{code, message}; }

std::string StatusText(NnStatus status) {
  char buf[256];
  NnLoadStatusText(status, buf, sizeof buf);
  return std::string(buf) + " (status " + std::to_string(status) + ")";
}

// Command-line arguments: positionals and "--name value" / "--flag" options.
struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  std::map<std::string, bool> flags;

  static Args Parse(int argc, char** argv, int first, const std::vector<std::string>& valued,
                    const std::vector<std::string>& boolean) {
    Args a;
    for (int i = first; i < argc; ++i) {
      std::string s = argv[i];
      if (s.size() > 2 && s.compare(0, 2, "--") == 0) {
        std::string name = s.substr(2);
        bool isValued = false, isBool = false;
        for (auto& v : valued) isValued |= v == name;
        for (auto& b : boolean) isBool |= b == name;
        if (isValued) {
          if (i + 1 >= argc) Fail(kExitUsage, "option --" + name + " needs a value");
          a.options[name] = argv[++i];
        } else if (isBool) {
          a.flags[name] = true;
        } else {
          Fail(kExitUsage, "unknown option --" + name);
        }
      } else {
        a.positional.push_back(s);
      }
    }
    return a;
  }
  bool Has(const std::string& name) const { return options.count(name) != 0; }
  bool Flag(const std::string& name) const { return flags.count(name) != 0; }
};

class Database {
 public:
  explicit Database(const std::string& path) {
    NnStatus st = NnDbOpen(path.c_str(), 0, &handle_);
    if (st != NN_OK) {
      std::string detail = NnDbLastLoadError();
      Fail(kExitInput, "cannot open " + path + ": " + (detail.empty() ? StatusText(st) : detail));
    }
  }
  ~Database() { NnDbClose(handle_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  NnHandle handle() const { return handle_; }

 private:
  NnHandle handle_ = 0;
};

class Note {
 public:
  Note(NnHandle db, NOTEID id) {
    NnStatus st = NnNoteOpen(db, id, 0, &handle_);
    if (st != NN_OK) Fail(kExitInput, "cannot open note " + std::to_string(id) + ": " + StatusText(st));
  }
  ~Note() { NnNoteClose(handle_); }
  Note(const Note&) = delete;
  Note& operator=(const Note&) = delete;
  NnHandle handle() const { return handle_; }

 private:
  NnHandle handle_ = 0;
};

std::string UnidText(const ORIGINATORID_tag& oid) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.8X%.8X%.8X%.8X", unsigned(oid.File.Innards[1]),
                unsigned(oid.File.Innards[0]), unsigned(oid.Note.Innards[1]),
                unsigned(oid.Note.Innards[0]));
  return buf;
}

std::string ClassName(uint16_t noteClass) {
  switch (noteClass) {
    case NN_CLASS_DOCUMENT: return "document";
    case NN_CLASS_INFO: return "helpaboutdocument";
    case NN_CLASS_FORM: return "form";
    case NN_CLASS_VIEW: return "view";
    case NN_CLASS_ICON: return "icon";
    case NN_CLASS_DESIGN: return "design";
    case NN_CLASS_ACL: return "acl";
    case NN_CLASS_HELP_INDEX: return "helpindex";
    case NN_CLASS_HELP: return "helpusingdocument";
    case NN_CLASS_FILTER: return "filter";
    case NN_CLASS_FIELD: return "sharedfield";
    case NN_CLASS_REPLFORMULA: return "replicationformula";
    default: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%X", unsigned(noteClass));
      return buf;
    }
  }
}

std::string TypeName(uint16_t type) {
  switch (type) {
    case NN_TYPE_TEXT: return "text";
    case NN_TYPE_TEXT_LIST: return "textlist";
    case NN_TYPE_NUMBER: return "number";
    case NN_TYPE_NUMBER_RANGE: return "numberlist";
    case NN_TYPE_TIME: return "time";
    case NN_TYPE_TIME_RANGE: return "timelist";
    case NN_TYPE_COMPOSITE: return "composite";
    case NN_TYPE_OBJECT: return "object";
    case NN_TYPE_FORMULA: return "formula";
    case NN_TYPE_STRUCTURED_RICHTEXT: return "structured-richtext";
    default: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%.4X", unsigned(type));
      return buf;
    }
  }
}

struct NoteRef {
  uint32_t number;  // 1-based, document order
  NOTEID id;
  std::string unid;
  uint16_t noteClass;
};

std::vector<NoteRef> ListNotes(NnHandle db) {
  std::vector<NoteRef> notes;
  uint32_t count = NnDbNoteCount(db);
  for (uint32_t i = 0; i < count; ++i) {
    NoteRef ref{i + 1, 0, "", 0};
    if (NnDbNoteIdAt(db, i, &ref.id) != NN_OK) continue;
    ORIGINATORID_tag oid{};
    tagTIMEDATE modified{};
    NnDbGetNoteInfo(db, ref.id, &oid, &modified, &ref.noteClass);
    ref.unid = UnidText(oid);
    notes.push_back(ref);
  }
  return notes;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// "#N", "0xID" or a universal id.
const NoteRef& SelectNote(const std::vector<NoteRef>& notes, const std::string& selector) {
  for (const auto& n : notes) {
    if (selector.size() > 1 && selector[0] == '#') {
      if (selector.substr(1) == std::to_string(n.number)) return n;
    } else if (selector.size() > 2 && (selector.compare(0, 2, "0x") == 0 || selector.compare(0, 2, "0X") == 0)) {
      char* end = nullptr;
      unsigned long id = std::strtoul(selector.c_str() + 2, &end, 16);
      if (end && *end == 0 && id == n.id) return n;
    } else if (EqualsNoCase(selector, n.unid)) {
      return n;
    }
  }
  Fail(kExitInput, "no note " + selector);
}

struct ItemSegments {
  std::string name;
  uint16_t type = 0;
  std::vector<NnItemDesc> segments;
  uint64_t bytes = 0;  // value bytes without the type words
};

// Items grouped by name (case-insensitive), in order of first appearance.
std::vector<ItemSegments> GroupItems(NnHandle note) {
  std::vector<ItemSegments> groups;
  uint32_t count = NnNoteItemCount(note);
  for (uint32_t i = 0; i < count; ++i) {
    NnItemDesc d;
    if (NnNoteItemAt(note, i, &d) != NN_OK) continue;
    ItemSegments* g = nullptr;
    for (auto& existing : groups)
      if (EqualsNoCase(existing.name, d.name)) g = &existing;
    if (!g) {
      groups.push_back(ItemSegments{d.name, d.type, {}, 0});
      g = &groups.back();
    }
    g->bytes += d.valueLen >= 2 ? d.valueLen - 2 : 0;
    g->segments.push_back(d);
  }
  return groups;
}

// The data of one segment (after the type word).
std::vector<uint8_t> SegmentData(const NnItemDesc& d) {
  const uint8_t* p = static_cast<const uint8_t*>(NnBlockLock(d.value));
  std::vector<uint8_t> data;
  if (p && d.valueLen >= 2) data.assign(p + 2, p + d.valueLen);
  NnBlockUnlock(d.value);
  return data;
}

int CmdInfo(const Args& args) {
  if (args.positional.size() != 1) Fail(kExitUsage, "usage: kvedit info FILE");
  Database db(args.positional[0]);
  for (const auto& ref : ListNotes(db.handle())) {
    std::printf("note #%u id 0x%X unid %s class %s\n", unsigned(ref.number), unsigned(ref.id),
                ref.unid.c_str(), ClassName(ref.noteClass).c_str());
    Note note(db.handle(), ref.id);
    for (const auto& g : GroupItems(note.handle()))
      std::printf("  %s %s %llu\n", g.name.c_str(), TypeName(g.type).c_str(),
                  static_cast<unsigned long long>(g.bytes));
  }
  return kExitOk;
}

// The joined stored bytes of an item's segments, each segment padded to an
// even length (a segment may end on an odd record without its pad byte).
std::vector<uint8_t> JoinedSegments(NnHandle note, const std::string& name) {
  std::vector<uint8_t> joined;
  for (const auto& g : GroupItems(note)) {
    if (!EqualsNoCase(g.name, name)) continue;
    for (const auto& seg : g.segments) {
      if (seg.type != NN_TYPE_COMPOSITE) continue;
      std::vector<uint8_t> data = SegmentData(seg);
      // Zero the pad byte after each odd-length record: its value is not data.
      size_t pos = 0;
      uint16_t sig;
      kv::cd::HeaderKind kind;
      uint32_t len, headerSize;
      while (pos < data.size() &&
             kv::cd::ReadCanonicalHeader(data.data() + pos, data.size() - pos, &sig, &kind, &len,
                                         &headerSize) &&
             len >= headerSize && len <= data.size() - pos) {
        pos += len;
        if (len % 2 && pos < data.size()) data[pos++] = 0;
      }
      joined.insert(joined.end(), data.begin(), data.end());
      if (joined.size() % 2) joined.push_back(0);
    }
  }
  return joined;
}

// The stored length of a host-layout record.
uint32_t StoredLength(const RTRecordNode* node) {
  std::vector<uint8_t> canonical;
  if (kv::cd::HostToCanonical(node->data, node->length, &canonical) != NN_OK) return node->length;
  return uint32_t(canonical.size());
}

// Commits the item's records into a second copy of the note and compares the
// stored bytes with the original's. Pad bytes compare as zero.
std::string RoundTrip(LSXLsiSession* session, NnHandle db, NOTEID id, NnHandle original,
                      const std::string& name) {
  Note scratch(db, id);
  TorvoRTItem item(session);
  NnStatus st = item.ConnectBackend(db, scratch.handle(), name.c_str());
  if (st == NN_OK) st = item.LoadRecords();
  if (st == NN_OK) st = item.Commit();
  if (st != NN_OK) return "failed: " + StatusText(st);
  std::vector<uint8_t> before = JoinedSegments(original, name);
  std::vector<uint8_t> after = JoinedSegments(scratch.handle(), name);
  size_t n = std::min(before.size(), after.size());
  for (size_t i = 0; i < n; ++i)
    if (before[i] != after[i]) return "differs at byte " + std::to_string(i);
  if (before.size() != after.size()) return "differs at byte " + std::to_string(n);
  return "identical";
}

int CmdRecords(const Args& args) {
  if (args.positional.size() != 1)
    Fail(kExitUsage,
         "usage: kvedit records FILE [--note #N|0xID|UNID] [--item NAME] [--host] [--roundtrip]");
  Database db(args.positional[0]);
  std::vector<NoteRef> notes = ListNotes(db.handle());
  std::vector<NoteRef> chosen;
  if (args.Has("note"))
    chosen.push_back(SelectNote(notes, args.options.at("note")));
  else
    chosen = notes;
  LSXLsiSession session;
  if (!session.IsValid()) Fail(kExitInput, "out of memory");
  bool any = false;
  std::vector<std::string> roundTrips;
  bool allIdentical = true;
  bool unread = false;
  for (const auto& ref : chosen) {
    Note note(db.handle(), ref.id);
    for (const auto& g : GroupItems(note.handle())) {
      // Structured rich text is taken too, for its load to say that it is not read.
      if (g.type != NN_TYPE_COMPOSITE && g.type != NN_TYPE_STRUCTURED_RICHTEXT) continue;
      if (args.Has("item") && !EqualsNoCase(args.options.at("item"), g.name)) continue;
      any = true;
      NnStatus st = NN_OK;
      RecordList* list = RecordListLoadFromNote(&session, note.handle(), g.name.c_str(), &st);
      if (!list) {
        // The other items are still listed; each one that is not says why.
        std::fprintf(stderr, "kvedit: item %s of note #%u: %s\n", g.name.c_str(),
                     unsigned(ref.number), StatusText(st).c_str());
        unread = true;
        continue;
      }
      std::printf("note #%u unid %s item %s segments %zu bytes %llu records %u\n",
                  unsigned(ref.number), ref.unid.c_str(), g.name.c_str(), g.segments.size(),
                  static_cast<unsigned long long>(g.bytes), unsigned(list->count));
      uint32_t seq = 0;
      for (const RTRecordNode* node = RecordListNext(list, nullptr); node;
           node = RecordListNext(list, node))
        std::printf("%u 0x%.4X %u\n", unsigned(++seq), unsigned(node->signature),
                    unsigned(args.Flag("host") ? node->length : StoredLength(node)));
      RecordListFreeWithAllocator(&session, list);
      if (args.Flag("roundtrip")) {
        std::string verdict = RoundTrip(&session, db.handle(), ref.id, note.handle(), g.name);
        allIdentical &= verdict == "identical";
        roundTrips.push_back("roundtrip " + g.name + " " + verdict);
      }
    }
  }
  if (args.Has("item") && !any) Fail(kExitInput, "no rich-text item " + args.options.at("item"));
  for (const auto& line : roundTrips) std::printf("%s\n", line.c_str());
  if (unread) return kExitInput;
  return allIdentical ? kExitOk : kExitDiffers;
}

// ---- Chunk commands ------------------------------------------------------------

bool IsRichTextItem(const ItemSegments& g) {
  // Structured rich text is chosen like any other, so that the command says
  // it cannot read it rather than that there is none.
  if (g.type == NN_TYPE_STRUCTURED_RICHTEXT) return true;
  // "$Fonts" is the note's font table, stored like rich text but not text.
  return g.type == NN_TYPE_COMPOSITE && !EqualsNoCase(g.name, "$Fonts");
}

// The note and rich-text item a chunk command works on: --note and --item
// when given, else the first note holding a rich-text item, and in it the
// item named "Body" or "$Body" (a form's first item is often its styles, not
// its body), else its first one.
struct ItemChoice {
  NOTEID id = 0;
  std::string name;
};

ItemChoice ChooseItem(NnHandle db, const Args& args) {
  std::vector<NoteRef> notes = ListNotes(db);
  std::vector<NoteRef> chosen;
  if (args.Has("note"))
    chosen.push_back(SelectNote(notes, args.options.at("note")));
  else
    chosen = notes;
  for (const auto& ref : chosen) {
    Note note(db, ref.id);
    std::string first;
    for (const auto& g : GroupItems(note.handle())) {
      if (!IsRichTextItem(g)) continue;
      const bool wanted = args.Has("item") ? EqualsNoCase(args.options.at("item"), g.name)
                                           : EqualsNoCase(g.name, "Body") ||
                                                 EqualsNoCase(g.name, "$Body");
      if (wanted) return ItemChoice{ref.id, g.name};
      if (first.empty()) first = g.name;
    }
    if (!args.Has("item") && !first.empty()) return ItemChoice{ref.id, first};
  }
  if (args.Has("item")) Fail(kExitInput, "no rich-text item " + args.options.at("item"));
  Fail(kExitInput, "no rich-text item");
}

// An open item with the chunks defined over it; members go in reverse order
// (chunks, item, session, note, database).
class ChunkWork {
 public:
  ChunkWork(const std::string& file, const Args& args) : db_(file) {
    ItemChoice choice = ChooseItem(db_.handle(), args);
    note_ = std::make_unique<Note>(db_.handle(), choice.id);
    session_ = std::make_unique<LSXLsiSession>();
    if (!session_->IsValid()) Fail(kExitInput, "out of memory");
    item_ = std::make_unique<TorvoRTItem>(session_.get());
    NnStatus st = item_->ConnectBackend(db_.handle(), note_->handle(), choice.name.c_str());
    if (st != NN_OK) Fail(kExitInput, "item " + choice.name + ": " + StatusText(st));
  }
  ~ChunkWork() {
    chunks_.clear();
    item_.reset();
    session_.reset();
  }
  ChunkWork(const ChunkWork&) = delete;
  ChunkWork& operator=(const ChunkWork&) = delete;

  // A chunk over the item; null or empty gives the Everything chunk.
  TorvoRTChunk* Define(const std::string& definition) {
    TorvoRTChunk* chunk = item_->DefineChunk(definition.c_str());
    if (!chunk) Fail(kExitInput, "invalid definition: " + definition);
    chunks_.emplace_back(chunk);
    return chunk;
  }
  LSXLsiSession* session() { return session_.get(); }
  NnHandle db() const { return db_.handle(); }
  NnHandle note() const { return note_->handle(); }

 private:
  Database db_;
  std::unique_ptr<Note> note_;
  std::unique_ptr<LSXLsiSession> session_;
  std::unique_ptr<TorvoRTItem> item_;
  std::vector<std::unique_ptr<TorvoRTChunk>> chunks_;
};

// A failed chunk call: 1028 is a definition (or argument) that was refused.
[[noreturn]] void ChunkFail(NnStatus status, const std::string& definition) {
  if (status == NN_ERR_INVALID_ARG) Fail(kExitInput, "invalid definition: " + definition);
  Fail(kExitInput, StatusText(status));
}

int CmdDefine(const Args& args) {
  if (args.positional.size() != 1) Fail(kExitUsage, "usage: kvedit define TEXT");
  LSXLsiSession session;
  if (!session.IsValid()) Fail(kExitInput, "out of memory");
  chunkdef_info* chain = ParseChunkDefinition(&session, nullptr, args.positional[0].c_str(), nullptr);
  if (!chain) {
    std::printf("invalid\n");
    return kExitInput;
  }
  std::vector<char> text(kTextBufferSize);
  TorvoRTChunk::CalculateDefinition(chain, text.data());
  FreeChunkDefinition(chain);
  std::printf("%s\n", text.data());
  return kExitOk;
}

int CmdCount(const Args& args) {
  if (args.positional.size() != 2)
    Fail(kExitUsage, "usage: kvedit count FILE [--note SEL] [--item NAME] DEFINITION");
  ChunkWork work(args.positional[0], args);
  TorvoRTChunk* everything = work.Define("");
  long count = everything->GetCount(args.positional[1].c_str());
  if (count < 0) ChunkFail(NN_ERR_INVALID_ARG, args.positional[1]);
  if (everything->lastStatus != NN_OK) ChunkFail(everything->lastStatus, args.positional[1]);
  std::printf("%ld\n", count);
  return kExitOk;
}

int CmdTargets(const Args& args) {
  if (args.positional.size() != 2)
    Fail(kExitUsage, "usage: kvedit targets FILE [--note SEL] [--item NAME] DEFINITION");
  ChunkWork work(args.positional[0], args);
  TorvoRTChunk* chunk = work.Define(args.positional[1]);
  SessionGlobals* g = work.session()->globals;
  uint32_t walked = 0;
  if (chunk->Exists()) {
    do {
      // The existence test may stop at the target's first record; a find
      // locate reports its whole range.
      g->FirstMatchRecord = g->LastMatchRecord = 0;
      NnStatus st = chunk->RunFrame(STEP_LOCATE, PROP_FIND, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
      if (st != NN_OK) ChunkFail(st, args.positional[1]);
      const chunkdef_info* inner = chunk->InnermostNode();
      ++walked;
      uint32_t number = inner && inner->occurrenceCount ? inner->occurrences[0] : walked;
      std::printf("%u %u-%u\n", unsigned(number), unsigned(g->FirstMatchRecord),
                  unsigned(g->LastMatchRecord));
    } while (chunk->GetNextTarget());
  }
  if (chunk->lastStatus != NN_OK) ChunkFail(chunk->lastStatus, args.positional[1]);
  return kExitOk;
}

int CmdText(const Args& args) {
  if (args.positional.empty() || args.positional.size() > 2)
    Fail(kExitUsage,
         "usage: kvedit text FILE [--note SEL] [--item NAME] [--all] [--sep TEXT] [DEFINITION]");
  ChunkWork work(args.positional[0], args);
  TorvoRTChunk* everything = work.Define("");
  std::string definition = args.positional.size() == 2 ? args.positional[1] : "";
  std::string separator = NnUtf8ToLmbcs(args.Has("sep") ? args.options.at("sep").data() : "\n",
                                        args.Has("sep") ? args.options.at("sep").size() : 1);
  std::vector<char> buffer(kResultTextSize + 1);
  bool all = args.Flag("all");
  unsigned long n = everything->GetText(definition.c_str(), buffer.data(), buffer.size(),
                                        all ? 1 : 0, all ? separator.c_str() : nullptr);
  const bool cut = everything->lastStatus == kStatusTextCut;
  if (everything->lastStatus != NN_OK && !cut) ChunkFail(everything->lastStatus, definition);
  std::string utf8 = NnLmbcsToUtf8(buffer.data(), n);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputc('\n', stdout);
  if (cut) std::fprintf(stderr, "kvedit: the text is cut after %lu bytes\n", n);
  return kExitOk;
}

int CmdSetText(const Args& args) {
  if (args.positional.size() != 3 || !args.Has("out"))
    Fail(kExitUsage,
         "usage: kvedit set-text FILE [--note SEL] [--item NAME] --out OUT.dxl DEFINITION TEXT");
  const std::string& definition = args.positional[1];
  if (definition.empty()) Fail(kExitUsage, "set-text needs a definition");
  ChunkWork work(args.positional[0], args);
  // A target that does not exist is an error here, not a quiet no-op.
  TorvoRTChunk* target = work.Define(definition);
  if (!target->Exists()) Fail(kExitInput, "no target " + definition);
  TorvoRTChunk* everything = work.Define("");
  std::string text = NnUtf8ToLmbcs(args.positional[2].data(), args.positional[2].size());
  NnStatus st = everything->SetText(definition.c_str(), text.c_str(), 0, nullptr);
  if (st != NN_OK) ChunkFail(st, definition);
  st = NnNoteUpdate(work.note(), 0);
  if (st != NN_OK) Fail(kExitInput, "cannot store the note: " + StatusText(st));
  st = NnDbSaveDxl(work.db(), args.options.at("out").c_str());
  if (st != NN_OK) Fail(kExitInput, "cannot write " + args.options.at("out") + ": " + StatusText(st));
  return kExitOk;
}

// Renders the item's Everything chunk as an HTML (or XHTML) page.
int CmdRender(const Args& args) {
  if (args.positional.size() != 1)
    Fail(kExitUsage, "usage: kvedit render FILE [--note SEL] [--item NAME] [--xhtml] "
                     "[--options \"KEY=VALUE ...\"] [--out PATH]");
  ChunkWork work(args.positional[0], args);
  TorvoRTChunk* everything = work.Define("");
  const std::string optionsUtf8 = args.Has("options") ? args.options.at("options") : "";
  std::string options = NnUtf8ToLmbcs(optionsUtf8.data(), optionsUtf8.size());
  const char* outPath = args.Has("out") ? args.options.at("out").c_str() : nullptr;
  char* page = nullptr;
  uint32_t length = 0;
  NnStatus st = args.Flag("xhtml")
                    ? everything->GenerateXML(outPath, options.c_str(), &page, &length)
                    : everything->GenerateHTML(outPath, options.c_str(), &page, &length);
  if (st != NN_OK || !page) Fail(kExitInput, "render failed: " + StatusText(st ? st : NnStatus(NN_ERR_MEMORY)));
  // The page goes out from where the render left it.
  bool ok = true;
  if (outPath) {
    FILE* f = std::fopen(outPath, "wb");
    ok = f && std::fwrite(page, 1, length, f) == length;
    ok = f && std::fclose(f) == 0 && ok;
  } else {
    std::fwrite(page, 1, length, stdout);
  }
  PoolFree(work.session(), page);
  if (!ok) Fail(kExitInput, std::string("cannot write ") + outPath);
  return kExitOk;
}

void Usage() {
  std::fprintf(stderr,
               "usage: kvedit COMMAND ...\n"
               "  info FILE                      notes and their items\n"
               "  records FILE [--note SEL] [--item NAME] [--host] [--roundtrip]\n"
               "                                 the records of rich-text items\n"
               "  define TEXT                    a chunk definition as it reads back\n"
               "  count FILE [ITEM] DEFINITION   how many targets the definition has\n"
               "  targets FILE [ITEM] DEFINITION each target from the defined one on:\n"
               "                                 number, first-last record\n"
               "  text FILE [ITEM] [--all] [--sep TEXT] [DEFINITION]\n"
               "                                 the text of a chunk (every run with --all)\n"
               "  set-text FILE [ITEM] --out OUT.dxl DEFINITION TEXT\n"
               "                                 replaces the target's text, saves to OUT.dxl\n"
               "  render FILE [ITEM] [--xhtml] [--options \"KEY=VALUE ...\"] [--out PATH]\n"
               "                                 the item as an HTML (XHTML) page\n"
               "ITEM is [--note SEL] [--item NAME]: default the first note with rich text\n"
               "and its \"Body\" or \"$Body\" item, else its first.\n"
               "SEL is #N (document order from 1), 0xID (note id) or a universal id.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage();
    return kExitUsage;
  }
  std::string command = argv[1];
  try {
    if (command == "info") return CmdInfo(Args::Parse(argc, argv, 2, {}, {}));
    if (command == "records") return CmdRecords(Args::Parse(argc, argv, 2, {"note", "item"}, {"host", "roundtrip"}));
    if (command == "define") return CmdDefine(Args::Parse(argc, argv, 2, {}, {}));
    if (command == "count") return CmdCount(Args::Parse(argc, argv, 2, {"note", "item"}, {}));
    if (command == "targets") return CmdTargets(Args::Parse(argc, argv, 2, {"note", "item"}, {}));
    if (command == "text")
      return CmdText(Args::Parse(argc, argv, 2, {"note", "item", "sep"}, {"all"}));
    if (command == "set-text")
      return CmdSetText(Args::Parse(argc, argv, 2, {"note", "item", "out"}, {}));
    if (command == "render")
      return CmdRender(Args::Parse(argc, argv, 2, {"note", "item", "options", "out"}, {"xhtml"}));
    if (command == "--help" || command == "help") {
      Usage();
      return kExitOk;
    }
    Usage();
    return kExitUsage;
  } catch (const Failure& f) {
    std::fprintf(stderr, "kvedit: %s\n", f.message.c_str());
    if (f.code == kExitUsage) Usage();
    return f.code;
  }
}
