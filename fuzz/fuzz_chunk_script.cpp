// Fuzz target: chunk scripts. An item from the input, then a sequence of
// chunk method calls decoded from the rest: define, navigate, get and set
// properties, insert, append, remove, replace, sort. After each call the item
// is either unchanged (a failure status) or, when it changed, still sound (if
// it was), and it reloads from saved DXL and renders.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzzsupport.h"
#include "richtext/engine/properties.h"

namespace {

const char* const kDefinitions[] = {
    "",           "Table 1",        "Table 1; Row 2",   "Table 1; Row 1; Column 1",
    "Text 1",     "Text *",         "Paragraph 1",      "Paragraph 2",
    "Hotspot 1",  "Section 1",      "Graphic 1",        "Row 1",
    "Field 1",    "Layer 1",        "Cell 1",           "Inside Section 1; Text 1",
    "Text 'a' 1", "Link 1",         "Everything",       "Paragraph *",
};
constexpr size_t kDefinitionCount = sizeof kDefinitions / sizeof kDefinitions[0];

std::string Definition(kvfuzz::Reader& in) {
  uint8_t pick = in.U8();
  if (pick < kDefinitionCount) return kDefinitions[pick];
  std::string text = in.Text();
  return text.c_str();
}

std::string PropertyName(kvfuzz::Reader& in) {
  uint8_t pick = in.U8();
  if (pick < kChunkPropertyRows && ChunkPropertyTable[pick].name) return ChunkPropertyTable[pick].name;
  std::string text = in.Text();
  return text.c_str();
}

std::string Plain(kvfuzz::Reader& in) {
  std::string text = in.Text();
  return text.c_str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kvfuzz::Reader in(data, size);
  kvfuzz::BoundItem target(in);
  if (!target.bound) return 0;
  TorvoRTItem& item = target.item;
  TorvoRTChunk* chunk = item.DefineChunk("");
  for (int step = 0; step < 12 && !in.empty() && chunk; ++step) {
    std::vector<uint8_t> before = target.Stored();
    bool failed = true;
    bool write = true;
    uint8_t op = in.U8() % 22;
    switch (op) {
      case 0: {  // define
        TorvoRTChunk* next = item.DefineChunk(Definition(in).c_str());
        if (next) {
          delete chunk;
          chunk = next;
        }
        write = false;
        break;
      }
      case 1: chunk->GetNextTarget(); write = false; break;
      case 2: chunk->GetPreviousTarget(); write = false; break;
      case 3: chunk->GetLastTarget(); write = false; break;
      case 4: chunk->GetCount(Definition(in).c_str()); write = false; break;
      case 5: {
        if (in.U8() & 1) chunk->ZoomOut();
        else chunk->ZoomIn(Definition(in).c_str());
        write = false;
        break;
      }
      case 6: {
        std::string name = PropertyName(in);
        uint16_t capacity = uint16_t(in.U8() + 1);
        std::vector<char> buffer(capacity, '\x55');
        chunk->GetPropertyText(name.c_str(), buffer.data(), capacity);
        if (strnlen(buffer.data(), capacity) == capacity) kvfuzz::Finding("property text unterminated");
        write = false;
        break;
      }
      case 7: {
        std::string name = PropertyName(in);
        std::string value = Plain(in);
        failed = chunk->SetPropertyText(name.c_str(), value.c_str(), 0) == 0;
        break;
      }
      case 8: {
        std::string text = Plain(in);
        failed = chunk->InsertText(text.c_str(), uint16_t(text.size()), "") != NN_OK;
        break;
      }
      case 9: {
        std::string text = Plain(in);
        std::string font = Plain(in);
        failed = chunk->AppendText(text.c_str(), uint16_t(text.size()), font.c_str()) != NN_OK;
        break;
      }
      case 10: failed = chunk->Remove() != NN_OK; break;
      case 11: {
        std::string definition = Definition(in);
        std::string text = Plain(in);
        failed = chunk->SetText(definition.c_str(), text.c_str(), 0, "") != NN_OK;
        break;
      }
      case 12: {
        std::string find = Plain(in);
        std::string replace = Plain(in);
        std::string scope = Plain(in);
        failed = chunk->ReplaceTextQuick(find.c_str(), uint16_t(find.size()), replace.c_str(),
                                         uint16_t(replace.size()), scope.c_str()) != NN_OK;
        break;
      }
      case 13: {
        uint16_t column = uint16_t(in.U8() % 8);
        uint8_t flags = in.U8();
        std::string options = Plain(in);
        failed = chunk->SortByRow(column, flags & 1, (flags >> 1) & 1, (flags >> 2) & 1,
                                  options.c_str()) != 0;
        break;
      }
      case 14: {
        uint16_t rows = uint16_t(in.U8() % 6), columns = uint16_t(in.U8() % 6);
        std::string options = Plain(in);
        failed = chunk->AppendTable(rows, columns, 0, options.c_str(), nullptr) != NN_OK;
        break;
      }
      case 15: {
        std::string text = Plain(in);
        std::string font = Plain(in);
        failed = chunk->AppendParagraph(text.c_str(), font.c_str(), nullptr, 0) != NN_OK;
        break;
      }
      case 16: {
        std::string font = Plain(in);
        failed = chunk->ChangeFont(font.c_str(), "", in.U8() & 1) != NN_OK;
        break;
      }
      case 17: {
        std::string properties = Plain(in);
        failed = chunk->ChangeParagraph(properties.c_str(), "", in.U8() & 1) != NN_OK;
        break;
      }
      case 18: {
        std::string text = Plain(in);
        failed = chunk->InsertParagraph(text.c_str(), "", nullptr, 0) != NN_OK;
        break;
      }
      case 19: failed = chunk->AppendNewLines(uint16_t(in.U8() % 4), in.U8() & 1) != NN_OK; break;
      case 20: {
        const char* cells[kCellTextSlots] = {"x", "y", "z"};  // the method reads every slot
        failed = chunk->AppendRow(in.U8() & 1, uint16_t(in.U8() % 4), cells) != NN_OK;
        break;
      }
      default: {
        char text[1024];
        chunk->GetText(Definition(in).c_str(), text, sizeof text, 1, "|");
        if (strnlen(text, sizeof text) == sizeof text) kvfuzz::Finding("text unterminated");
        write = false;
        break;
      }
    }
    if (!write) {
      if (target.Stored() != before) kvfuzz::Finding("a reading call changed the item");
      continue;
    }
    target.CheckWrite(before, failed);
  }
  delete chunk;
  return 0;
}
