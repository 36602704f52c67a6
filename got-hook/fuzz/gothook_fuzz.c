// libFuzzer target over the section-header parsing of section mode. The input
// is the library file and also the ELF header that the patcher reads from the
// mapping (e_shoff, e_shnum, e_shstrndx); the program headers and load bias are
// this program's own, so a ".got" that the parser accepts must lie in memory
// that really is mapped.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "got_hook.h"

int LLVMFuzzerInitialize(int* argc, char*** argv);
int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static ElfModuleInfo g_self;

int LLVMFuzzerInitialize(int* argc, char*** argv) {
  (void)argc;
  (void)argv;
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) abort();
  path[length] = '\0';
  g_self.base = GetModuleBaseAddr(path);
  if (g_self.base == 0) abort();
  g_self.ehdr = (const ElfW(Ehdr)*)g_self.base;
  g_self.phdr = (const ElfW(Phdr)*)(g_self.base + g_self.ehdr->e_phoff);
  if (!findActualLoadBias(&g_self)) abort();
  return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < sizeof(ElfW(Ehdr))) return 0;
  ElfW(Ehdr) header;
  memcpy(&header, data, sizeof(header));
  header.e_phoff = g_self.ehdr->e_phoff;
  header.e_phnum = g_self.ehdr->e_phnum;
  ElfModuleInfo info = g_self;
  info.ehdr = &header;
  FILE* file = fmemopen((void*)data, size, "r");
  if (file == NULL) return 0;
  findGotBySections(&info, file);
  fclose(file);
  return 0;
}
