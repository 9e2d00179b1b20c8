#include "support/testutil.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <fcntl.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace kvtest {


CommandResult RunCommand(const std::vector<std::string>& argv) {
  CommandResult r;
  std::string dir = MakeTempDir();
  std::string outPath = dir + "/out", errPath = dir + "/err";
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = ReadFile(outPath);
  r.err = ReadFile(errPath);
  RemoveTree(dir);
  return r;
}

std::string KveditPath() { return KV_KVEDIT_PATH; }

std::string CorpusDir() {
  const char* env = std::getenv("KV_CORPUS");
  std::string dir = env && *env ? env : KV_CORPUS_DIR;
  std::error_code ec;
  if (!fs::is_directory(dir + "/dxl", ec)) return "";
  return dir;
}

std::vector<std::string> FilesBelow(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (it->is_regular_file()) files.push_back(it->path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::string MakeTempDir() {
  std::string tmpl = (fs::temp_directory_path() / "kvtest-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  char* made = mkdtemp(buf.data());
  return made ? std::string(made) : std::string();
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) fs::remove_all(path, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream ss(text);
  while (std::getline(ss, line)) lines.push_back(line);
  return lines;
}

bool DecodeBase64(const std::string& text, std::vector<uint8_t>* out) {
  out->clear();
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=' || c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    else return false;
    acc = (acc << 6) | uint32_t(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(uint8_t(acc >> bits));
      acc &= (1u << bits) - 1;
    }
  }
  return true;
}

std::vector<RichTextItemRef> RichTextItems(NnHandle db) {
  std::vector<RichTextItemRef> items;
  for (uint32_t i = 0; i < NnDbNoteCount(db); ++i) {
    NOTEID id = 0;
    NnHandle note = 0;
    if (NnDbNoteIdAt(db, i, &id) != NN_OK || NnNoteOpen(db, id, 0, &note) != NN_OK) continue;
    std::vector<std::string> seen;
    for (uint32_t k = 0; k < NnNoteItemCount(note); ++k) {
      NnItemDesc d;
      if (NnNoteItemAt(note, k, &d) != NN_OK || d.type != NN_TYPE_COMPOSITE) continue;
      if (strcasecmp(d.name.c_str(), "$Fonts") == 0) continue;
      bool known = false;
      for (const auto& s : seen) known |= strcasecmp(s.c_str(), d.name.c_str()) == 0;
      if (known) continue;
      seen.push_back(d.name);
      items.push_back({i, id, d.name});
    }
    NnNoteClose(note);
  }
  return items;
}

std::string UnidText(NnHandle note) {
  ORIGINATORID_tag oid{};
  if (NnNoteGetInfo(note, NN_NOTE_INFO_OID, &oid) != NN_OK) return "";
  char text[40];
  std::snprintf(text, sizeof text, "%.8X%.8X%.8X%.8X", oid.File.Innards[1], oid.File.Innards[0],
                oid.Note.Innards[1], oid.Note.Innards[0]);
  return text;
}

std::string DocumentMarker(NnHandle db, NnHandle note, int number) {
  const std::string n = std::to_string(number);
  return "[<!--$hDB=" + std::to_string(db) + "$unid=" + UnidText(note) + "--><a name='zavedodAvu" +
         n + "'></a><div id='zavedodAvu" + n + "'></div>]";
}

std::string CompiledFormula(const std::string& text) {
  NnHandle h = 0;
  uint16_t length = 0, errorOffset = 0, errorLength = 0;
  if (text.size() > 0xFFFF ||
      NnFormulaCompile(text.data(), uint16_t(text.size()), &h, &length, &errorOffset,
                       &errorLength) != NN_OK)
    return {};
  const char* p = static_cast<const char*>(NnMemLock(h));
  std::string out = p ? std::string(p, length) : std::string();
  NnMemUnlock(h);
  NnMemFree(h);
  return out;
}

bool ParsesAsXml(const std::string& text) {
  xmlDoc* doc = xmlReadMemory(text.data(), int(text.size()), "page.xhtml", nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  // Read with namespaces: an undeclared prefix fails the page too.
  const bool namespaced = doc && (doc->properties & XML_DOC_NSVALID);
  xmlFreeDoc(doc);
  return namespaced;
}

std::vector<PageElement> PageElements(const std::string& page, bool html) {
  std::vector<PageElement> out;
  xmlDoc* doc = html ? htmlReadMemory(page.data(), int(page.size()), "p.html", "UTF-8",
                                      HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING)
                     : xmlReadMemory(page.data(), int(page.size()), "p.xhtml", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  auto text = [](xmlChar* t) {
    std::string s = t ? reinterpret_cast<char*>(t) : "";
    xmlFree(t);
    return s;
  };
  auto collect = [&](auto& self, xmlNode* n) -> void {
    for (; n; n = n->next) {
      if (n->type != XML_ELEMENT_NODE) continue;
      PageElement e{reinterpret_cast<const char*>(n->name), text(xmlNodeGetContent(n)), {}};
      for (xmlAttr* a = n->properties; a; a = a->next)
        e.attributes[reinterpret_cast<const char*>(a->name)] =
            text(xmlNodeListGetString(n->doc, a->children, 1));
      out.push_back(std::move(e));
      self(self, n->children);
    }
  };
  if (doc) collect(collect, xmlDocGetRootElement(doc));
  xmlFreeDoc(doc);
  return out;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  if (what.empty()) return n;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

const std::vector<std::string>& PageRangeDefinitions() {
  static const std::vector<std::string> definitions = {
      "", "Outside Table 1", "Table 1", "Table 1; Row 1-2", "Paragraph 2", "Section 1"};
  return definitions;
}

}  // namespace kvtest
