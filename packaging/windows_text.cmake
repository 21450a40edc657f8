# Copies a text file with Windows line ends (CR LF), when it exists.
#   cmake -DFROM=source -DTO=copy -P windows_text.cmake
if(NOT EXISTS "${FROM}")
  file(REMOVE "${TO}")
  return()
endif()
file(READ "${FROM}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${TO}.new" "${text}")
# Rewritten only when it changed, so that nothing downstream rebuilds for nothing.
file(COPY_FILE "${TO}.new" "${TO}" ONLY_IF_DIFFERENT)
file(REMOVE "${TO}.new")
