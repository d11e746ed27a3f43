// ANSI text of code page 1252 (text_codepages.cpp).
#pragma once

namespace host {

// The platform's case mapping of one ANSI byte.
unsigned char ToUpperAnsi(unsigned char c);
unsigned char ToLowerAnsi(unsigned char c);

}  // namespace host
