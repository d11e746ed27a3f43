#include "references/settings_file.h"

#include "support/bounded_bytes.h"
#include "support/file_system.h"
#include "support/limits.h"
#include "support/path_utils.h"

#include <cstdint>
#include <cstring>

namespace {

// The bytes of one chunk as the parser sees them. Positions are offsets, read through the bounded
// reader. The chunk's last byte lies just past the span and is never read:
// a last line without a line end loses its last character.
struct TextCursor {
    ByteSpan text;  // the chunk up to, not including, its last byte
    DWORD pos;
};

[[nodiscard]] BOOL PeekByte(const TextCursor &cursor, DWORD offset, BYTE *value) {
    return ReadLe(&cursor.text, offset, value);
}

BOOL AtEnd(const TextCursor &cursor) { return cursor.pos >= cursor.text.cb; }

BOOL IsLineEnd(BYTE ch) { return ch == '\r' || ch == '\n' || ch == '\0'; }

// Moves past the current line and its end: a NUL alone, or a CR or LF together with the other one
// of the pair right after it.
void SkipToNextLine(TextCursor &cursor) {
    BYTE ch;
    while (PeekByte(cursor, cursor.pos, &ch)) {
        ++cursor.pos;
        if (ch == '\0') return;
        if (ch == '\r' || ch == '\n') {
            const BYTE pair = ch == '\r' ? '\n' : '\r';
            BYTE next;
            if (PeekByte(cursor, cursor.pos, &next) && next == pair) ++cursor.pos;
            return;
        }
    }
}

BOOL AtGroupStart(const TextCursor &cursor) {
    BYTE ch;
    return PeekByte(cursor, cursor.pos, &ch) && ch == '[';
}

// Writes the group at the cursor into `list` (overwriting it) as a multi-string list and leaves the
// cursor at the next group's '[' or at the end. Returns 1 when the list block filled up first: the
// cursor then stands inside the group, and the list holds its first cbList - 2 bytes, closed.
BOOL ReadSectionGroup(LPSTR list, DWORD cbList, TextCursor &cursor, BOOL convertOem) {
    DWORD cbWritten = 0;
    BOOL lineStart = 1;
    BOOL produced = 0;
    BYTE ch;
    while (cbWritten + 2 < cbList && PeekByte(cursor, cursor.pos, &ch)) {
        if (lineStart && (ch == ' ' || ch == '\t')) {
            ++cursor.pos;
        } else if ((lineStart && ch == ';') || IsLineEnd(ch)) {
            SkipToNextLine(cursor);
            if (AtEnd(cursor) || AtGroupStart(cursor)) break;
            if (produced) list[cbWritten++] = '\0';
            lineStart = 1;
            produced = 0;
        } else {
            list[cbWritten++] = static_cast<CHAR>(ch);
            ++cursor.pos;
            lineStart = 0;
            produced = 1;
        }
    }
    const BOOL full = cbWritten + 2 >= cbList && !AtEnd(cursor);
    list[cbWritten] = '\0';
    list[cbWritten + 1] = '\0';
    if (convertOem && cbWritten > 0) OemToCharBuffA(list, list, cbWritten + 2);
    return full;
}

// Passes over the rest of a group that did not fit the list block: what follows is more of the
// same group, not a group of its own, until a line begins with '['.
void SkipRestOfGroup(TextCursor &cursor) {
    BYTE ch;
    while (PeekByte(cursor, cursor.pos, &ch)) {
        if (IsLineEnd(ch)) {
            SkipToNextLine(cursor);
            if (AtGroupStart(cursor)) return;
        } else {
            ++cursor.pos;
        }
    }
}

// The text after the header line's first '[' up to the next ']' or the end of the line. A name of
// PATH_BUFFER_SIZE characters or more is refused (empty), so that no cut name can match.
void ExtractSectionName(LPSTR name, LPCSTR header) {
    name[0] = '\0';
    const char *open = std::strchr(header, '[');
    if (open == nullptr) return;
    const char *close = std::strchr(open + 1, ']');
    const size_t cch = close != nullptr ? static_cast<size_t>(close - open - 1) : std::strlen(open + 1);
    if (cch >= PATH_BUFFER_SIZE) return;
    std::memcpy(name, open + 1, cch);
    name[cch] = '\0';
}

// Reads the groups of one chunk into `list` until one has the wanted name (1, the list holding
// it) or the text ends (0). *groupStart receives the offset of the last group begun, where the
// next chunk must start so that this group is read whole.
BOOL FindSectionInText(LPSTR list, DWORD cbList, const BYTE *text, DWORD cbText, LPCSTR wanted, BOOL convertOem,
                       DWORD *groupStart) {
    TextCursor cursor = {{text, cbText > 0 ? cbText - 1u : 0u}, 0};
    for (;;) {
        *groupStart = cursor.pos;
        const BOOL full = ReadSectionGroup(list, cbList, cursor, convertOem);
        if (list[0] != '\0') {
            CHAR name[PATH_BUFFER_SIZE];
            ExtractSectionName(name, list);
            if (CompareTextNoCase(name, wanted) == 0) return 1;
        }
        if (full) SkipRestOfGroup(cursor);
        BYTE ch;
        if (!PeekByte(cursor, cursor.pos, &ch) || ch == '\0') return 0;
    }
}

// Shrinks a locked block; on failure the block stays as it was, at its old size.
LPSTR ShrinkLockedBuffer(LPSTR block, DWORD cbNew) {
    HGLOBAL handle = GlobalHandle(block);
    GlobalUnlock(handle);
    HGLOBAL shrunk = GlobalReAlloc(handle, cbNew, GMEM_MOVEABLE);
    LPSTR result = static_cast<LPSTR>(GlobalLock(shrunk != nullptr ? shrunk : handle));
    return result;
}

}  // namespace

LPSTR ReadDataFileSection(LPCSTR path, LPCSTR name, BOOL convertOem) {
    DWORD cbChunkBlock = SETTINGS_CHUNK_BUFFER_SIZE;
    BYTE *chunk = static_cast<BYTE *>(AllocLockedBuffer(&cbChunkBlock, SETTINGS_CHUNK_STEP));
    if (chunk == nullptr) return nullptr;
    const DWORD cbChunk = cbChunkBlock - 3;

    const HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR) {
        FreeLockedBuffer(chunk);
        return nullptr;
    }

    DWORD cbList = SETTINGS_LIST_BUFFER_SIZE;
    LPSTR list = static_cast<LPSTR>(AllocLockedBuffer(&cbList, SETTINGS_LIST_STEP));
    BOOL found = 0;
    while (list != nullptr) {
        const UINT cbRead = _lread(file, chunk, cbChunk);
        if (cbRead == static_cast<UINT> HFILE_ERROR || cbRead == 0 || cbRead > cbChunk) break;
        DWORD groupStart = 0;
        found = FindSectionInText(list, cbList, chunk, cbRead, name, convertOem, &groupStart);
        if (found || cbRead < cbChunk) break;
        // One group filling the whole chunk would be read again from the same place forever: the
        // reading ends there, and the sections after it are out of reach.
        if (groupStart == 0) break;
        if (_llseek(file, -static_cast<LONG>(cbRead - groupStart), FILE_CURRENT) == HFILE_ERROR) break;
        std::memset(chunk, 0, cbChunkBlock);
    }

    FreeLockedBuffer(chunk);
    _lclose(file);
    if (!found) {
        FreeLockedBuffer(list);
        return nullptr;
    }

    DWORD cbSize = 0;
    MeasureStringList(list, 0, &cbSize, nullptr);
    // The two bytes after the list may still hold an earlier group's text.
    const DWORD cbKept = cbSize + 2 <= cbList ? cbSize + 2 : cbList;
    std::memset(list + cbSize, 0, cbKept - cbSize);
    return ShrinkLockedBuffer(list, cbKept);
}

void GetProgramDirectory(LPSTR directory) {
    CHAR program[PATH_BUFFER_SIZE];
    directory[0] = '\0';
    const DWORD cch = GetModuleFileNameA(nullptr, program, sizeof program);
    if (cch == 0 || cch >= sizeof program) return;
    program[cch] = '\0';
    RemoveLastPathComponent(program);
    GetTrueCasePath(directory, program);
}

BOOL ReadSettingsSection(LPCSTR name, LPSTR *list) {
    *list = nullptr;
    CHAR path[PATH_BUFFER_SIZE];
    GetProgramDirectory(path);
    // A directory too long for the file name to follow whole would name some other file.
    if (path[0] == '\0' || std::strlen(path) + 1 + sizeof SETTINGS_FILE_NAME > PATH_BUFFER_SIZE) return 0;
    AppendPathComponent(path, SETTINGS_FILE_NAME);
    *list = ReadDataFileSection(path, name, /*convertOem=*/1);
    return *list != nullptr;
}
