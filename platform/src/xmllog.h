// libxml2 reports some errors (encoding conversions, I/O) to its global error
// handlers, which print on stderr by default. While an XmlLogScope lives, the
// calling thread's handlers send those messages to the platform log instead;
// the caller's own handlers are put back when it ends.
#pragma once

#include <libxml/xmlerror.h>

namespace nnstore {

class XmlLogScope {
 public:
  XmlLogScope();
  ~XmlLogScope();
  XmlLogScope(const XmlLogScope&) = delete;
  XmlLogScope& operator=(const XmlLogScope&) = delete;

 private:
  xmlGenericErrorFunc generic_;
  void* genericContext_;
  xmlStructuredErrorFunc structured_;
  void* structuredContext_;
};

}  // namespace nnstore
