// Operations on single-byte path strings and string lists.
//
// A path is backslash-separated ANSI text; a forward slash is an ordinary character. A buffer
// written by these operations is a caller-owned PATH_BUFFER_SIZE (300) byte buffer unless the
// comment says otherwise; every operation that fills one keeps to it, cutting longer results at
// 299 characters. Operations that modify a buffer return it, so that calls can be chained. None of
// them keeps state between calls.
#pragma once

#include "win32.h"

#include <cstddef>

#include "support/limits.h"

// Joins `name` to `path` with exactly one backslash between them; one leading backslash of the
// name is dropped, an empty path simply takes the name, and an absent or empty name changes
// nothing. Truncates: the result is cut at 299 characters.
LPSTR AppendPathComponent(LPSTR path, LPCSTR name);

// The length AppendPathComponent(path, name) gives when nothing is cut. Callers that must not
// name another path than the one asked for refuse a join of PATH_BUFFER_SIZE characters or more.
size_t JoinedPathLength(LPCSTR path, LPCSTR name);

// The path up to and including its first colon (all of it when there is none) and a backslash:
// "X:\A" gives "X:\". Truncates: at most 298 characters are kept before the backslash.
LPSTR GetPathRoot(LPSTR dest, LPCSTR path);

// The text after the last dot of the last component, empty when there is none; a dot in the
// first position never starts an extension. Truncates at 299 characters.
LPSTR GetFileExtension(LPSTR dest, LPCSTR path);

// The last component; one trailing backslash of the path is ignored ("X:\A\" gives "A").
// Truncates at 299 characters.
LPSTR GetPathFileName(LPSTR dest, LPCSTR path);

// The last component without its extension and dot. Truncates at 299 characters.
LPSTR GetFileBaseName(LPSTR dest, LPCSTR path);

// The path without its last component, as RemoveLastPathComponent leaves it. Truncates: the
// first 299 characters of a longer parent.
LPSTR GetParentDirectory(LPSTR dest, LPCSTR path);

// Ends the text at the dot of its extension; unchanged when there is none. Only shortens.
LPSTR RemoveFileExtension(LPSTR path);

// Cuts off the last component, keeping a drive ("X:"), a drive root ("X:\") and a lone leading
// backslash; a path ending in a backslash only loses that backslash. Only shortens.
LPSTR RemoveLastPathComponent(LPSTR path);

// Removes one trailing backslash, a drive root's included. Only shortens.
LPSTR RemoveTrailingBackslash(LPSTR text);

// Appends one character. Refuses: a text that already fills 299 characters is left unchanged.
LPSTR AppendChar(LPSTR text, CHAR ch);

// The last character of the text, or none for an empty or absent text. Like strchr, the result
// is writable when the text is.
LPSTR LastCharOf(LPCSTR text);

// Copies the component that starts at `pos` into `component`: the text up to the next backslash,
// plus that backslash when it follows a colon (so a drive root comes out whole, "X:\"). Returns
// the position after the backslash, or of the closing NUL. Callers stop at the first empty
// component. Truncates: a longer component is cut at 299 characters in the buffer, but the
// returned position is still past all of it.
LPCSTR NextPathComponent(LPSTR component, LPCSTR pos);

// Skips semicolons, then copies the item up to the next semicolon or the end into `item`.
// Returns the position after that semicolon, or of the closing NUL; callers loop while it does
// not point at the NUL. Truncates like NextPathComponent, and the position still passes the whole
// item.
LPCSTR NextSemicolonItem(LPSTR item, LPCSTR pos);

// 1 for "c:\..." (any first character) and for "\\...", else 0.
BOOL IsFullPath(LPCSTR path);

// 1 for a full path of exactly three characters, a drive root.
BOOL IsRootPath(LPCSTR path);

// 1 when the base name has at most 8 characters and the extension at most 3. The characters
// themselves are not checked ("A B.E" passes).
BOOL IsShortFileName(LPCSTR path);

// 1 when CharUpperA (CharLowerA) leaves the text as it is: texts without letters are both. Works
// on a 1024-byte copy; a longer text is tested 1023 characters at a time, so the answer always
// covers the whole text.
BOOL IsAllUpperCase(LPCSTR text);
BOOL IsAllLowerCase(LPCSTR text);

// Capitalises ("Readme.txt") each component that is a short name written all in one case; other
// components keep their spelling. Stops at the first empty component, so a UNC path or one
// beginning with a backslash is left alone. Writes only over the text's own characters.
LPSTR ProperCaseShortNames(LPSTR path);

// Capitalises every component, as ProperCaseShortNames does for short ones. Writes only over the
// text's own characters, so any buffer holding the text will do (cFileName of a find record).
LPSTR ProperCasePath(LPSTR path);

// lstrcmpA / lstrcmpiA of the two texts; -2, a mismatch, when either is absent.
int CompareText(LPCSTR a, LPCSTR b);
int CompareTextNoCase(LPCSTR a, LPCSTR b);

// In a multi-string list (strings end to end, closed by an empty one): the string after `pos`.
// Like strchr, the result is writable when the list is.
LPSTR NextListString(LPCSTR pos);

// Number of strings and size in bytes, the closing NUL included, of a multi-string list with
// `cbGap` extra bytes after each string's NUL. An absent list counts as empty: size 1, count 0.
// Either result pointer may be none.
void MeasureStringList(LPCSTR list, DWORD cbGap, DWORD *pcbSize, DWORD *pcStrings);

// Locked, zero-filled, moveable global memory of *pcbSize bytes; after each failure the request
// shrinks by cbStep while it is larger than the step. On success *pcbSize holds the size obtained;
// on failure none, with *pcbSize at the last size tried. A step of 0 means a single try. The
// caller releases the block with FreeLockedBuffer.
LPVOID AllocLockedBuffer(DWORD *pcbSize, DWORD cbStep);

// Locked moveable global memory of cb bytes that the caller fills whole at once, so it is not
// zeroed; none when it cannot be had. Released with FreeLockedBuffer.
LPVOID AllocLockedBytes(DWORD cb);

// Releases locked global memory the library's way: GlobalHandle, GlobalUnlock, GlobalFree.
// none is ignored.
void FreeLockedBuffer(LPVOID p);

// The expansion of %PATH% in locked global memory that holds all of it (10240 bytes, or more for
// a longer value), or none when that cannot be had. An unset PATH stays the literal "%PATH%". The
// caller frees it with FreeLockedBuffer.
LPSTR ExpandPathVariable(void);

// 1 when `directory` equals, ignoring case, an item of the expanded PATH variable. The comparison
// is textual: "C:\DOS\" does not match "C:\DOS". A PATH longer than the 10240-byte buffer gets a
// buffer of its size; if that cannot be had the answer is 0. Items of 299 characters or more
// (cut short in the item buffer) never match.
BOOL IsDirectoryInPath(LPCSTR directory);

// 1 when `directory` is the Windows directory, the System directory or a PATH directory; the
// Windows and System directories are read anew on every call.
BOOL IsWindowsSystemOrPathDirectory(LPCSTR directory);

// The platform's upper case of one ANSI character (CharUpperA's single-character form).
CHAR CharUpperOne(CHAR ch);
