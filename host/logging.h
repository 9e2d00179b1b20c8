// The host's message outlet and the engine's debug level.
#pragma once

#include <cstdint>

class LSXLsiSession;

// Hands text to the session's message routine (LSXLsiSession::SetMessageProc);
// dropped when there is no session, no routine or no text.
void LogMessage(LSXLsiSession* session, const char* text);

// The engine's debug level: the setting "<product>Debug" ("ZelkoDebug"
// without a session). Values of 5 and above are masked with 3; negative
// values count as 0.
uint16_t GetDebugLevel(const LSXLsiSession* session);
