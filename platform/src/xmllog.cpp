#include "xmllog.h"

#include <libxml/globals.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "nn/nn.h"

namespace nnstore {

namespace {

std::string trimmedLine(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// Generic messages arrive in pieces; a line is logged once it is complete.
thread_local std::string pendingGeneric;

void genericToLog(void*, const char* format, ...) {
  char piece[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (n < 0) return;
  pendingGeneric += piece;
  size_t nl;
  while ((nl = pendingGeneric.find('\n')) != std::string::npos) {
    std::string line = trimmedLine(pendingGeneric.substr(0, nl));
    pendingGeneric.erase(0, nl + 1);
    if (!line.empty()) NnLogMessage(0, "libxml2: %s", line.c_str());
  }
}

void structuredToLog(void*, xmlErrorPtr error) {
  if (error == nullptr) return;
  std::string message = trimmedLine(error->message ? error->message : "unknown error");
  if (error->file != nullptr)
    NnLogMessage(0, "libxml2: %s:%d: %s", error->file, error->line, message.c_str());
  else
    NnLogMessage(0, "libxml2: %s", message.c_str());
}

}  // namespace

XmlLogScope::XmlLogScope()
    : generic_(xmlGenericError),
      genericContext_(xmlGenericErrorContext),
      structured_(xmlStructuredError),
      structuredContext_(xmlStructuredErrorContext) {
  xmlSetGenericErrorFunc(nullptr, genericToLog);
  xmlSetStructuredErrorFunc(nullptr, structuredToLog);
}

XmlLogScope::~XmlLogScope() {
  if (!pendingGeneric.empty()) {
    std::string line = trimmedLine(pendingGeneric);
    pendingGeneric.clear();
    if (!line.empty()) NnLogMessage(0, "libxml2: %s", line.c_str());
  }
  xmlSetGenericErrorFunc(genericContext_, generic_);
  xmlSetStructuredErrorFunc(structuredContext_, structured_);
}

}  // namespace nnstore
