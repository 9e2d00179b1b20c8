#include "host/logging.h"

#include <cstdio>

#include "lsxsessi.h"
#include "nn/nn.h"

void LogMessage(LSXLsiSession* session, const char* text) {
  if (!session || !session->messageProc || !text) return;
  session->messageProc(session->messageContext, text);
}

uint16_t GetDebugLevel(const LSXLsiSession* session) {
  char name[96];
  std::snprintf(name, sizeof name, "%sDebug", session ? session->ProductName() : "Zelko");
  long level = NnIniGetNumber(name);
  if (level <= 0) return 0;
  // Levels of 5 and above are reduced to their low two bits.
  if (level >= 5) level &= 3;
  return static_cast<uint16_t>(level);
}
