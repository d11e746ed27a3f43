# Writes OUTPUT, a C++ source that defines the bytes of INPUT as `NAME` and its size as `NAME`Size,
# in namespace drivemap. Run at build time: cmake -DINPUT=... -DOUTPUT=... -DNAME=... -P embed_file.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " bytes "${bytes}")
get_filename_component(inputName "${INPUT}" NAME)
file(WRITE "${OUTPUT}" "// Generated from ${inputName} at build time; do not edit.
#include <cstddef>

namespace drivemap {
extern const unsigned char ${NAME}[] = {
    ${bytes}0x00};
extern const std::size_t ${NAME}Size = ${size};
}  // namespace drivemap
")
