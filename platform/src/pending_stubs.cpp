// Weak stand-ins so the tree links while parts of the platform layer are written;
// each real definition replaces its stand-in. Remove this file once all exist.
#include "nn/nn.h"
#pragma GCC diagnostic ignored "-Wunused-parameter"

__attribute__((weak)) uint16_t NnLoadStatusText(NnStatus status, char* buf, uint16_t bufSize) { return 0; }
__attribute__((weak)) NnStatus NnMemAlloc(uint32_t size, uint16_t flags, NnHandle* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) void* NnMemLock(NnHandle h) { return nullptr; }
__attribute__((weak)) NnStatus NnMemUnlock(NnHandle h) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnMemFree(NnHandle h) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnMemRealloc(NnHandle h, uint32_t newSize) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) uint32_t NnMemSize(NnHandle h) { return 0; }
__attribute__((weak)) size_t NnMemLiveCount() { return 0; }
__attribute__((weak)) bool NnIniGetText(const char* name, char* buf, uint16_t bufSize) { return false; }
__attribute__((weak)) long NnIniGetNumber(const char* name) { return 0; }
__attribute__((weak)) void NnIniSet(const char* name, const char* value) {}
__attribute__((weak)) void NnIniClear() {}
__attribute__((weak)) NnStatus NnIniLoadFile(const char* path) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) void NnLogMessage(NnStatus status, const char* format, ...) {}
__attribute__((weak)) std::string NnLogCaptured() { return {}; }
__attribute__((weak)) void NnLogClear() {}
__attribute__((weak)) void NnLogSetEcho(bool toStderr) {}
__attribute__((weak)) void NnGetDataDirectory(char* buf, uint16_t bufSize) {}
__attribute__((weak)) NnStatus NnDbOpen(const char* path, uint16_t flags, NnHandle* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnDbClose(NnHandle hDb) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnDbGetPath(NnHandle hDb, char* canonical, uint16_t bufSize) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnDbGetReplicaInfo(NnHandle hDb, NnReplicaInfo* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnDbSaveDxl(NnHandle hDb, const char* path) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) uint32_t NnDbNoteCount(NnHandle hDb) { return 0; }
__attribute__((weak)) NnStatus NnDbNoteIdAt(NnHandle hDb, uint32_t index, NOTEID* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnDbGetNoteInfo(NnHandle hDb, NOTEID id, ORIGINATORID_tag* oid, tagTIMEDATE* modified, uint16_t* noteClass) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnDbGetObjectSize(NnHandle hDb, NOTEID id, const char* fileName, uint32_t* size) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) std::string NnDbLastLoadError() { return {}; }
__attribute__((weak)) NnStatus NnNoteOpen(NnHandle hDb, NOTEID id, uint16_t flags, NnHandle* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnNoteOpenByUnid(NnHandle hDb, const UNIVERSALNOTEID_tag* unid, uint16_t flags, NnHandle* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnNoteCreate(NnHandle hDb, uint16_t noteClass, NnHandle* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnNoteClose(NnHandle hNote) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnNoteUpdate(NnHandle hNote, uint16_t flags) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnNoteGetInfo(NnHandle hNote, uint16_t selector, void* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) void* NnBlockLock(NnBlockId block) { return nullptr; }
__attribute__((weak)) void NnBlockUnlock(NnBlockId block) {}
__attribute__((weak)) NnStatus NnItemInfo(NnHandle hNote, const char* name, uint16_t nameLen, NnBlockId* item, uint16_t* type, NnBlockId* value, uint32_t* valueLen) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnItemInfoNext(NnHandle hNote, NnBlockId prevItem, const char* name, uint16_t nameLen, NnBlockId* item, uint16_t* type, NnBlockId* value, uint32_t* valueLen) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) uint32_t NnNoteItemCount(NnHandle hNote) { return 0; }
__attribute__((weak)) NnStatus NnNoteItemAt(NnHandle hNote, uint32_t index, NnItemDesc* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) uint16_t NnItemGetText(NnHandle hNote, const char* name, char* buf, uint16_t bufLen) { return 0; }
__attribute__((weak)) uint16_t NnItemConvertToText(NnHandle hNote, const char* name, char* buf, uint16_t bufLen, char separator) { return 0; }
__attribute__((weak)) NnStatus NnItemAppendTextList(NnHandle hNote, const char* name, const char* text, uint16_t textLen, bool allowDuplicates) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnItemAppend(NnHandle hNote, uint16_t flags, const char* name, uint16_t nameLen, uint16_t type, const void* data, uint32_t dataLen) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnItemSetText(NnHandle hNote, const char* name, const char* text, uint16_t textLen) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnItemSetNumber(NnHandle hNote, const char* name, double value) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnItemSetTime(NnHandle hNote, const char* name, const tagTIMEDATE* value) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnItemDelete(NnHandle hNote, const char* name, uint16_t nameLen) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnItemDeleteByBlock(NnHandle hNote, NnBlockId item) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnTextListAllocate(uint16_t count, uint16_t quota, NnHandle* out, uint32_t* size) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnTextListAddEntry(NnHandle hList, const char* text, uint16_t len, uint32_t* size) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) uint16_t NnTextListCount(const void* list) { return 0; }
__attribute__((weak)) NnStatus NnTextListGetEntry(const void* list, uint16_t index, const char** text, uint16_t* len) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnIdTableCreate(NnHandle* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnIdTableInsert(NnHandle hTable, NOTEID id) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) uint32_t NnIdTableEntries(NnHandle hTable) { return 0; }
__attribute__((weak)) bool NnIdTableScan(NnHandle hTable, bool first, NOTEID* id) { return false; }
__attribute__((weak)) NnStatus NnIdTableFree(NnHandle hTable) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnDesignFindByNameFlags(NnHandle hDb, uint16_t noteClass, const char* name, uint16_t nameLen, const char* flagsPattern, NOTEID* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnViewOpen(NnHandle hDb, NOTEID viewId, NnHandle* hCollection) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnCollectionClose(NnHandle hCollection) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnCollectionGetIds(NnHandle hCollection, NnHandle* idTable) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnCollectionFindByKey(NnHandle hCollection, const char* key, NnHandle* idTable) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnNoteExtractFile(NnHandle hNote, const char* fileName, const char* outPath) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnNoteExtractFileToMemory(NnHandle hNote, const char* fileName, NnHandle* out, uint32_t* size) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnNoteAttachData(NnHandle hNote, const char* fileName, const void* data, uint32_t size) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnOdsRead(const void** pp, uint32_t avail, uint16_t structType, void* out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnCharsetTableLoad(uint16_t from, uint16_t to, NnCharsetInfo** out) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnCharsetTableFree(NnCharsetInfo* table) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnCharsetTranslate(NnCharsetInfo* table, uint16_t mode, const char* in, uint32_t inLen, char* out, uint32_t outSize, uint32_t* outLen) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnCharsetByteSize(const char* text, uint32_t chars, uint32_t maxBytes, uint32_t* bytes, const NnCharsetInfo* info) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnCharsetCharCount(const char* text, uint32_t bytes, uint32_t* chars, const NnCharsetInfo* info) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) std::string NnLmbcsToUtf8(const char* text, size_t len) { return {}; }
__attribute__((weak)) std::string NnUtf8ToLmbcs(const char* text, size_t len) { return {}; }
__attribute__((weak)) NnStatus NnTimeToText(const tagTIMEDATE* td, char* buf, uint16_t bufSize, uint16_t* len) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnTimeRangeToText(const tagTIMEDATE* first, const tagTIMEDATE* second, char* buf, uint16_t bufSize, uint16_t* len) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) tagTIMEDATE NnTimeFromParts(int year, int month, int day, int hour, int minute, int second, int hundredths) { return {}; }
__attribute__((weak)) bool NnTimeFromDxl(const char* text, tagTIMEDATE* out) { return false; }
__attribute__((weak)) std::string NnTimeToDxl(const tagTIMEDATE& td) { return {}; }
__attribute__((weak)) tagTIMEDATE NnTimeNow() { return {}; }
__attribute__((weak)) NnStatus NnFormulaCompile(const char* text, uint16_t textLen, NnHandle* hFormula, uint16_t* compiledLen, uint16_t* errorOffset, uint16_t* errorLength) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnFormulaToText(const void* compiled, uint16_t compiledLen, NnHandle* hText, uint16_t* textLen) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnComputeStart(const void* compiled, NnHandle* hCompute) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnComputeEvaluate(NnHandle hCompute, NnHandle hNote, NnHandle* hResult, uint32_t* resultLen) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus NnComputeStop(NnHandle hCompute) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus AnnotateGifToBuffer(const char* caption, const char* fontName, uint16_t pointSize, const char* extension, uint32_t backgroundRgb, uint8_t* buf, uint32_t* bufSize, uint16_t* width, uint16_t* height) { return NN_ERR_CATASTROPHIC; }
__attribute__((weak)) NnStatus GetImageSizeFromURL(const char* url, uint16_t* width, uint16_t* height) { return NN_ERR_CATASTROPHIC; }
