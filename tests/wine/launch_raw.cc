// Starts a program with exactly the command line held in a file, byte for
// byte, waits for it and writes its full 32-bit exit status to a second file.
//   launch_raw.exe LINE_FILE STATUS_FILE
// Under Wine, "wine program args" rebuilds the command line from Unix
// arguments (with its own quoting, and high bytes converted from the Unix
// locale), and a batch file goes through the command prompt's parsing and
// the OEM code page: neither delivers a hostile command line unchanged.
// CreateProcessA does, for every byte from 1 to 255.
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: launch_raw LINE_FILE STATUS_FILE\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "launch_raw: cannot read %s\n", argv[1]);
    return 2;
  }
  std::vector<char> line;
  char chunk[4096];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;)
    line.insert(line.end(), chunk, chunk + got);
  std::fclose(in);
  line.push_back('\0');

  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &started)) {
    std::fprintf(stderr, "launch_raw: CreateProcessA failed with error %lu\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(started.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(started.hProcess, &status);
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);

  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr || std::fprintf(out, "%lu\n", status) < 0 || std::fclose(out) != 0) {
    std::fprintf(stderr, "launch_raw: cannot write %s\n", argv[2]);
    return 2;
  }
  return 0;
}
