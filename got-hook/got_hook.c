#include "got_hook.h"

#include <android/log.h>
#include <elf.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#define GOT_LOG(...) __android_log_print(ANDROID_LOG_ERROR, "GOTHookLibrary", __VA_ARGS__)

#if UINTPTR_MAX > 0xffffffffu
#define GOT_ELF_CLASS ELFCLASS64
#define GOT_R_SYM(info) ELF64_R_SYM(info)
#define GOT_R_TYPE(info) ELF64_R_TYPE(info)
#else
#define GOT_ELF_CLASS ELFCLASS32
#define GOT_R_SYM(info) ELF32_R_SYM(info)
#define GOT_R_TYPE(info) ELF32_R_TYPE(info)
#endif

// The relocation types by which the dynamic linker puts an imported function's
// address into a word: a PLT jump slot, a GOT data slot, and a plain absolute
// pointer in initialised data.
typedef struct RelocTypes {
  uint32_t jumpSlot;
  uint32_t globDat;
  uint32_t absolute;
} RelocTypes;

static const RelocTypes kRelocTypes = {
#if defined(__arm__)
    R_ARM_JUMP_SLOT, R_ARM_GLOB_DAT, R_ARM_ABS32
#elif defined(__aarch64__)
    R_AARCH64_JUMP_SLOT, R_AARCH64_GLOB_DAT, R_AARCH64_ABS64
#elif defined(__x86_64__)
    R_X86_64_JUMP_SLOT, R_X86_64_GLOB_DAT, R_X86_64_64
#elif defined(__i386__)
    R_386_JMP_SLOT, R_386_GLOB_DAT, R_386_32
#else
#error "no relocation types known for this architecture"
#endif
};

// The program header table follows the ELF header; anything further away is
// not a header the patcher trusts.
enum { kMaxPhdrOffset = 68 };

// Real section-name tables are a few hundred bytes; a corrupted or replaced
// file must not make the monitored app allocate megabytes.
enum { kMaxShstrtabSize = 1 << 20 };

enum { kMapsLineSize = 512 };

typedef struct Mapping {
  ElfW(Addr) start;
  ElfW(Addr) end;
  bool readable;
} Mapping;

typedef enum SlotResult { SLOT_REPLACED, SLOT_ALREADY_NEW, SLOT_SKIPPED } SlotResult;

static const char* printablePath(const char* path) { return path != NULL ? path : "(null)"; }

// ---------------------------------------------------------------------------
// /proc/self/maps

// Parses the "start-end perms" head of a maps line.
static bool parseMapsLine(const char* line, Mapping* out) {
  char* cursor = NULL;
  unsigned long long start = strtoull(line, &cursor, 16);
  if (cursor == line || *cursor != '-') return false;
  const char* endText = cursor + 1;
  unsigned long long end = strtoull(endText, &cursor, 16);
  if (cursor == endText || *cursor != ' ' || end <= start) return false;
  out->start = (ElfW(Addr))start;
  out->end = (ElfW(Addr))end;
  out->readable = cursor[1] == 'r';
  return true;
}

// The kernel marks the mapping of an unlinked file by this suffix; the file now
// at the path (if any) is not what is mapped.
static bool isDeletedMapping(const char* line) {
  static const char kDeleted[] = " (deleted)";
  const size_t suffixLength = sizeof(kDeleted) - 1;
  size_t length = strcspn(line, "\n");
  return length >= suffixLength && memcmp(line + length - suffixLength, kDeleted, suffixLength) == 0;
}

// The first mapping whose line contains `path`. A line longer than the buffer is
// skipped whole, so that a fragment of it is never read as a line's start.
static bool findFirstMapping(const char* path, Mapping* out) {
  if (path == NULL) return false;
  FILE* maps = fopen("/proc/self/maps", "r");
  if (maps == NULL) {
    GOT_LOG("open maps file fail when GetModuleBaseAddr with %s", path);
    return false;
  }
  char line[kMapsLineSize];
  bool found = false;
  bool atLineStart = true;
  while (fgets(line, sizeof(line), maps) != NULL) {
    bool startsLine = atLineStart;
    atLineStart = strchr(line, '\n') != NULL;
    bool whole = startsLine && (atLineStart || feof(maps));
    if (!whole || strstr(line, path) == NULL) continue;
    if (isDeletedMapping(line)) {
      GOT_LOG("find so base addr but the file is deleted, terminate for safe reason");
    } else {
      found = parseMapsLine(line, out);
    }
    break;
  }
  fclose(maps);
  return found;
}

ElfW(Addr) GetModuleBaseAddr(const char* path) {
  Mapping mapping;
  return findFirstMapping(path, &mapping) ? mapping.start : 0;
}

// ---------------------------------------------------------------------------
// The library as mapped

// Program headers are read by copy: nothing guarantees their alignment in memory.
static ElfW(Phdr) phdrAt(const ElfModuleInfo* info, size_t index) {
  ElfW(Phdr) header;
  memcpy(&header, (const char*)info->phdr + index * sizeof(header), sizeof(header));
  return header;
}

// Whether [address, address + size) lies inside one PT_LOAD segment that has
// all of `flags`, with `address` aligned to `align`. Every address that comes
// from a file or from the library's own tables passes here before it is used.
static bool inSegment(const ElfModuleInfo* info, ElfW(Addr) address, uint64_t size, size_t align,
                      ElfW(Word) flags) {
  if (address % align != 0) return false;
  for (size_t i = 0; i < info->ehdr->e_phnum; ++i) {
    ElfW(Phdr) segment = phdrAt(info, i);
    if (segment.p_type != PT_LOAD || (segment.p_flags & flags) != flags) continue;
    ElfW(Addr) start = info->loadBias + segment.p_vaddr;
    if (address < start) continue;
    uint64_t offset = address - start;
    if (offset <= segment.p_memsz && size <= segment.p_memsz - offset) return true;
  }
  return false;
}

// Bytes readable from `address` to the end of its segment; 0 outside the library.
static uint64_t readableFrom(const ElfModuleInfo* info, ElfW(Addr) address) {
  for (size_t i = 0; i < info->ehdr->e_phnum; ++i) {
    ElfW(Phdr) segment = phdrAt(info, i);
    if (segment.p_type != PT_LOAD || (segment.p_flags & PF_R) == 0) continue;
    ElfW(Addr) start = info->loadBias + segment.p_vaddr;
    if (address >= start && address - start < segment.p_memsz) {
      return segment.p_memsz - (address - start);
    }
  }
  return 0;
}

// The header at `base` must be an ELF header of our class whose program header
// table lies inside the first mapping.
static bool checkElfHeader(ElfModuleInfo* info, const Mapping* first) {
  const ElfW(Ehdr)* ehdr = (const ElfW(Ehdr)*)info->base;
  uint64_t mapped = first->end - first->start;
  uint64_t tableEnd = (uint64_t)ehdr->e_phoff + (uint64_t)ehdr->e_phnum * sizeof(ElfW(Phdr));
  bool usable = ehdr->e_phoff <= kMaxPhdrOffset && memcmp(ehdr->e_ident, ELFMAG, SELFMAG) == 0 &&
                ehdr->e_ident[EI_CLASS] == GOT_ELF_CLASS && tableEnd <= mapped;
  if (!usable) {
    GOT_LOG("Illegal phdr offset %x", (unsigned)ehdr->e_phoff);
    return false;
  }
  info->ehdr = ehdr;
  info->phdr = (const ElfW(Phdr)*)(info->base + ehdr->e_phoff);
  return true;
}

bool findActualLoadBias(ElfModuleInfo* info) {
  ElfW(Addr) lowest = (ElfW(Addr))-1;
  for (size_t i = 0; i < info->ehdr->e_phnum; ++i) {
    ElfW(Phdr) segment = phdrAt(info, i);
    if (segment.p_type == PT_LOAD && segment.p_vaddr < lowest) lowest = segment.p_vaddr;
  }
  if (lowest == (ElfW(Addr))-1) return false;
  info->loadBias = info->base - lowest;
  return true;
}

// ---------------------------------------------------------------------------
// GOT words

bool make_mem_writable(ElfW(Addr) address) {
  ElfW(Addr) pageSize = (ElfW(Addr))sysconf(_SC_PAGESIZE);
  ElfW(Addr) page = address & ~(pageSize - 1);
  if (mprotect((void*)page, pageSize, PROT_READ | PROT_WRITE) == 0) return true;
  int error = errno;
  GOT_LOG("fail to set mem writable %d, %s", error, strerror(error));
  return false;
}

static uintptr_t loadWord(ElfW(Addr) address) {
  return __atomic_load_n((const uintptr_t*)address, __ATOMIC_RELAXED);
}

// One aligned store: a thread calling through the slot meanwhile sees the old
// or the new function, never a mix.
static void storeWord(ElfW(Addr) address, void* value) {
  __atomic_store_n((uintptr_t*)address, (uintptr_t)value, __ATOMIC_RELEASE);
}

// Replaces every word of [start, start + size) that holds oldFunc. A word whose
// page cannot be made writable is left alone and does not count.
static bool replaceGotEntries(ElfW(Addr) start, size_t size, void* oldFunc, void* newFunc) {
  bool replaced = false;
  for (size_t offset = 0; size - offset >= sizeof(uintptr_t); offset += sizeof(uintptr_t)) {
    ElfW(Addr) word = start + offset;
    if (loadWord(word) != (uintptr_t)oldFunc || !make_mem_writable(word)) continue;
    storeWord(word, newFunc);
    replaced = true;
  }
  return replaced;
}

static SlotResult replaceGotSlot(const ElfModuleInfo* info, ElfW(Addr) slot, void* newFunc) {
  if (!inSegment(info, slot, sizeof(uintptr_t), sizeof(uintptr_t), PF_W)) return SLOT_SKIPPED;
  if (loadWord(slot) == (uintptr_t)newFunc) return SLOT_ALREADY_NEW;
  if (!make_mem_writable(slot)) return SLOT_SKIPPED;
  storeWord(slot, newFunc);
  // Only the stored word changed; flushing further could touch an unmapped page.
  __builtin___clear_cache((char*)slot, (char*)slot + sizeof(uintptr_t));
  return SLOT_REPLACED;
}

// ---------------------------------------------------------------------------
// Section mode: the file's section headers

FILE* OpenElfFile(const char* path) { return path != NULL ? fopen(path, "r") : NULL; }

void CloseElfFile(FILE* file) {
  if (file != NULL) fclose(file);
}

static bool fileSizeOf(FILE* file, uint64_t* size) {
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  off_t end = ftello(file);
  if (end < 0) return false;
  *size = (uint64_t)end;
  return true;
}

// Reads `length` bytes at `offset`, only when they all lie inside the file.
static bool readFileAt(FILE* file, uint64_t fileSize, uint64_t offset, void* out, size_t length) {
  if (offset > fileSize || length > fileSize - offset) return false;
  if (fseeko(file, (off_t)offset, SEEK_SET) != 0) return false;
  return fread(out, 1, length, file) == length;
}

// Section header `index` of the table at `tableOffset`.
static bool readSectionHeader(FILE* file, uint64_t fileSize, uint64_t tableOffset, size_t index,
                              ElfW(Shdr)* out) {
  uint64_t relative = (uint64_t)index * sizeof(*out);
  if (tableOffset > fileSize || relative > fileSize - tableOffset) return false;
  return readFileAt(file, fileSize, tableOffset + relative, out, sizeof(*out));
}

bool getShstrtabContent(const ElfModuleInfo* info, FILE* file, void** buffer, size_t* size) {
  *buffer = NULL;
  *size = 0;
  const ElfW(Ehdr)* ehdr = info->ehdr;
  uint64_t fileSize = 0;
  ElfW(Shdr) names;
  if (ehdr->e_shstrndx >= ehdr->e_shnum || !fileSizeOf(file, &fileSize) ||
      !readSectionHeader(file, fileSize, ehdr->e_shoff, ehdr->e_shstrndx, &names)) {
    return false;
  }
  if (names.sh_offset == 0 || names.sh_size == 0 || names.sh_size > kMaxShstrtabSize ||
      names.sh_offset > fileSize || names.sh_size > fileSize - names.sh_offset) {
    return false;
  }
  void* content = malloc(names.sh_size);
  if (content == NULL) return false;
  if (!readFileAt(file, fileSize, names.sh_offset, content, names.sh_size)) {
    free(content);
    return false;
  }
  *buffer = content;
  *size = names.sh_size;
  return true;
}

// The name at `offset` in the string table, or null unless it starts and ends
// inside the table.
static const char* sectionName(const char* names, size_t size, ElfW(Word) offset) {
  if (offset >= size || memchr(names + offset, '\0', size - offset) == NULL) return NULL;
  return names + offset;
}

// Both GOT sections must lie in a writable segment of the mapped library: a
// file that says otherwise does not describe what is mapped.
static bool gotSectionsMapped(const ElfModuleInfo* info) {
  if (!inSegment(info, info->loadBias + info->gotAddr, info->gotSize, sizeof(uintptr_t), PF_W)) {
    return false;
  }
  return info->gotPltAddr == 0 ||
         inSegment(info, info->loadBias + info->gotPltAddr, info->gotPltSize, sizeof(uintptr_t), PF_W);
}

static void scanSectionHeaders(ElfModuleInfo* info, FILE* file, const char* names, size_t namesSize,
                               bool* sawGot) {
  uint64_t fileSize = 0;
  if (!fileSizeOf(file, &fileSize)) return;
  bool sawGotPlt = false;
  for (size_t i = 0; i < info->ehdr->e_shnum && !(*sawGot && sawGotPlt); ++i) {
    ElfW(Shdr) section;
    if (!readSectionHeader(file, fileSize, info->ehdr->e_shoff, i, &section)) return;
    const char* name = sectionName(names, namesSize, section.sh_name);
    if (name == NULL) continue;
    if (strcmp(name, ".got") == 0) {
      info->gotSize = section.sh_size;
      info->gotAddr = section.sh_addr;
      *sawGot = true;
    } else if (strcmp(name, ".got.plt") == 0) {
      info->gotPltSize = section.sh_size;
      info->gotPltAddr = section.sh_addr;
      sawGotPlt = true;
    }
  }
}

bool findGotBySections(ElfModuleInfo* info, FILE* file) {
  void* names = NULL;
  size_t namesSize = 0;
  if (!getShstrtabContent(info, file, &names, &namesSize)) {
    GOT_LOG("get shstrtab fail");
    return false;
  }
  info->gotSize = 0;
  info->gotAddr = 0;
  info->gotPltSize = 0;
  info->gotPltAddr = 0;
  bool sawGot = false;
  scanSectionHeaders(info, file, (const char*)names, namesSize, &sawGot);
  free(names);
  if (!sawGot || !gotSectionsMapped(info)) {
    GOT_LOG("can not find the .got");
    return false;
  }
  return true;
}

static bool replaceInGotSections(const ElfModuleInfo* info, void* oldFunc, void* newFunc) {
  bool replaced = replaceGotEntries(info->loadBias + info->gotAddr, info->gotSize, oldFunc, newFunc);
  if (info->gotPltAddr != 0) {
    replaced |= replaceGotEntries(info->loadBias + info->gotPltAddr, info->gotPltSize, oldFunc, newFunc);
  }
  return replaced;
}

// ---------------------------------------------------------------------------
// Dynamic mode: the library's own dynamic tables

static bool findSegmentByType(const ElfModuleInfo* info, ElfW(Word) type, ElfW(Phdr)* out) {
  for (size_t i = 0; i < info->ehdr->e_phnum; ++i) {
    *out = phdrAt(info, i);
    if (out->p_type == type) return true;
  }
  GOT_LOG("[-] Could not found segment type is %d\n", (int)type);
  return false;
}

// glibc's loader rewrites the address entries of a writable dynamic section to
// run-time addresses; bionic leaves link-time addresses there. A link-time
// address is smaller than the library's size, so it never lies inside the
// library as mapped.
static ElfW(Addr) dynamicAddress(const ElfModuleInfo* info, ElfW(Addr) pointer) {
  if (info->loadBias != 0 && inSegment(info, pointer, 1, 1, 0)) return pointer;
  return info->loadBias + pointer;
}

static void readHashTable(ElfModuleInfo* info, ElfW(Addr) table) {
  if (!inSegment(info, table, 2 * sizeof(uint32_t), sizeof(uint32_t), PF_R)) return;
  const uint32_t* words = (const uint32_t*)table;
  uint64_t arrays = ((uint64_t)words[0] + words[1]) * sizeof(uint32_t);
  if (!inSegment(info, table + 2 * sizeof(uint32_t), arrays, sizeof(uint32_t), PF_R)) return;
  info->nbucket = words[0];
  info->nchain = words[1];
  info->bucket = words + 2;
  info->chain = words + 2 + info->nbucket;
}

static void recordDynamicEntry(ElfModuleInfo* info, const ElfW(Dyn)* entry, uint64_t* pltRelSize,
                               uint64_t* relSize, uint64_t* relaSize) {
  switch (entry->d_tag) {
    case DT_PLTRELSZ: *pltRelSize = entry->d_un.d_val; break;
    case DT_PLTREL: info->jmprelIsRela = entry->d_un.d_val == DT_RELA; break;
    case DT_HASH: readHashTable(info, dynamicAddress(info, entry->d_un.d_ptr)); break;
    case DT_STRTAB: info->strtab = (const char*)dynamicAddress(info, entry->d_un.d_ptr); break;
    case DT_SYMTAB: info->symtab = (const ElfW(Sym)*)dynamicAddress(info, entry->d_un.d_ptr); break;
    case DT_REL: info->rel = (const ElfW(Rel)*)dynamicAddress(info, entry->d_un.d_ptr); break;
    case DT_RELSZ: *relSize = entry->d_un.d_val; break;
    case DT_RELA: info->rela = (const ElfW(Rela)*)dynamicAddress(info, entry->d_un.d_ptr); break;
    case DT_RELASZ: *relaSize = entry->d_un.d_val; break;
    case DT_JMPREL: info->jmprel = (const void*)dynamicAddress(info, entry->d_un.d_ptr); break;
    default: break;
  }
}

// Number of `entrySize` entries of the table at `table`, or 0 when the table
// does not lie inside the library.
static size_t tableCount(const ElfModuleInfo* info, const void* table, uint64_t bytes, size_t entrySize) {
  uint64_t count = bytes / entrySize;
  if (table == NULL || !inSegment(info, (ElfW(Addr))table, count * entrySize, sizeof(uintptr_t), PF_R)) {
    return 0;
  }
  return (size_t)count;
}

bool readDynamicSegment(ElfModuleInfo* info) {
  ElfW(Phdr) segment;
  bool found = findSegmentByType(info, PT_DYNAMIC, &segment);
  ElfW(Addr) dynamic = found ? info->loadBias + segment.p_vaddr : 0;
  size_t count = found ? segment.p_memsz / sizeof(ElfW(Dyn)) : 0;
  if (!found || !inSegment(info, dynamic, (uint64_t)count * sizeof(ElfW(Dyn)), sizeof(uintptr_t), PF_R)) {
    GOT_LOG("[-] could't find PT_DYNAMIC segment");
    return false;
  }
  info->dynamic = (const ElfW(Dyn)*)dynamic;
  info->dynamicCount = count;
  info->jmprelCount = info->relCount = info->relaCount = 0;
  info->nbucket = info->nchain = 0;
  uint64_t pltRelSize = 0, relSize = 0, relaSize = 0;
  for (size_t i = 0; i < count; ++i) {
    recordDynamicEntry(info, &info->dynamic[i], &pltRelSize, &relSize, &relaSize);
  }
  size_t jmprelEntry = info->jmprelIsRela ? sizeof(ElfW(Rela)) : sizeof(ElfW(Rel));
  info->jmprelCount = tableCount(info, info->jmprel, pltRelSize, jmprelEntry);
  info->relCount = tableCount(info, info->rel, relSize, sizeof(ElfW(Rel)));
  info->relaCount = tableCount(info, info->rela, relaSize, sizeof(ElfW(Rela)));
  return true;
}

uint32_t elf_hash(const char* name) {
  const unsigned char* cursor = (const unsigned char*)name;
  uint32_t hash = 0;
  while (*cursor != '\0') {
    hash = (hash << 4) + *cursor++;
    uint32_t high = hash & 0xf0000000u;
    if (high != 0) hash ^= high >> 24;
    hash &= ~high;
  }
  return hash;
}

// Symbol `index` when its entry and the whole of its name lie inside the library
// and the name equals `name`.
static const ElfW(Sym)* symbolNamed(const ElfModuleInfo* info, uint32_t index, const char* name) {
  ElfW(Addr) entry = (ElfW(Addr))info->symtab + (uint64_t)index * sizeof(ElfW(Sym));
  if (info->symtab == NULL || info->strtab == NULL ||
      !inSegment(info, entry, sizeof(ElfW(Sym)), sizeof(uintptr_t), PF_R)) {
    return NULL;
  }
  const ElfW(Sym)* symbol = (const ElfW(Sym)*)entry;
  ElfW(Addr) text = (ElfW(Addr))info->strtab + symbol->st_name;
  size_t length = strlen(name);
  if (readableFrom(info, text) <= length) return NULL;
  return memcmp((const char*)text, name, length + 1) == 0 ? symbol : NULL;
}

void findSymByName(const ElfModuleInfo* info, const char* name, const ElfW(Sym)** symOut,
                   uint32_t* indexOut) {
  if (name == NULL || info->nchain == 0 || info->nbucket == 0) return;
  uint32_t index = info->bucket[elf_hash(name) % info->nbucket];
  // A chain longer than the symbol table is a loop in a corrupted table.
  for (uint32_t steps = 0; index != 0 && index < info->nchain && steps < info->nchain; ++steps) {
    const ElfW(Sym)* symbol = symbolNamed(info, index, name);
    if (symbol != NULL) {
      if (symOut != NULL) *symOut = symbol;
      if (indexOut != NULL) *indexOut = index;
      return;
    }
    index = info->chain[index];
  }
}

// Offset and info word of relocation `index`; REL and RELA entries share them
// at their start.
static const ElfW(Rel)* relocationAt(const void* table, bool isRela, size_t index) {
  size_t entrySize = isRela ? sizeof(ElfW(Rela)) : sizeof(ElfW(Rel));
  return (const ElfW(Rel)*)((const char*)table + index * entrySize);
}

// Walks one relocation table; every slot of `symbolIndex` with one of the two
// types is replaced, or only the first when `firstOnly`. A slot that already
// holds newFunc fails the whole patch.
static bool patchTable(const ElfModuleInfo* info, const void* table, bool isRela, size_t count,
                       uint32_t symbolIndex, uint32_t typeA, uint32_t typeB, bool firstOnly,
                       void* newFunc, bool* changed) {
  for (size_t i = 0; i < count; ++i) {
    const ElfW(Rel)* relocation = relocationAt(table, isRela, i);
    uint32_t type = (uint32_t)GOT_R_TYPE(relocation->r_info);
    if (GOT_R_SYM(relocation->r_info) != symbolIndex || (type != typeA && type != typeB)) continue;
    SlotResult result = replaceGotSlot(info, info->loadBias + relocation->r_offset, newFunc);
    if (result == SLOT_ALREADY_NEW) return false;
    if (result == SLOT_REPLACED) *changed = true;
    if (firstOnly) break;
  }
  return true;
}

static bool patchRelocations(const ElfModuleInfo* info, const char* symbol, void* newFunc) {
  uint32_t index = 0;
  findSymByName(info, symbol, NULL, &index);
  if (index == 0) {
    GOT_LOG("can not find the symbol");
    return false;
  }
  const RelocTypes* types = &kRelocTypes;
  bool changed = false;
  return patchTable(info, info->jmprel, info->jmprelIsRela, info->jmprelCount, index, types->jumpSlot,
                    types->jumpSlot, true, newFunc, &changed) &&
         patchTable(info, info->rel, false, info->relCount, index, types->globDat, types->absolute,
                    false, newFunc, &changed) &&
         patchTable(info, info->rela, true, info->relaCount, index, types->globDat, types->absolute,
                    false, newFunc, &changed) &&
         changed;
}

// ---------------------------------------------------------------------------
// Entry points

static int patchMappedLibrary(const char* path, const char* symbol, void* oldFunc, void* newFunc,
                              int byDynamic, FILE* file) {
  Mapping first;
  if (!findFirstMapping(path, &first) || !first.readable) return GOT_ERR_NOT_MAPPED;
  ElfModuleInfo info;
  memset(&info, 0, sizeof(info));
  info.base = first.start;
  if (!checkElfHeader(&info, &first)) return GOT_ERR_HEADER;
  if (!findActualLoadBias(&info)) return GOT_ERR_NO_LOAD;
  if (byDynamic) {
    if (!readDynamicSegment(&info)) return GOT_ERR_NO_GOT;
    return patchRelocations(&info, symbol, newFunc) ? GOT_PATCHED : GOT_ERR_NOTHING;
  }
  if (!findGotBySections(&info, file)) return GOT_ERR_NO_GOT;
  return replaceInGotSections(&info, oldFunc, newFunc) ? GOT_PATCHED : GOT_ERR_NOTHING;
}

int patchGot(const char* path, const char* symbol, void* oldFunc, void* newFunc, int byDynamic) {
  FILE* file = OpenElfFile(path);
  if (file == NULL) return GOT_ERR_OPEN;
  int code = patchMappedLibrary(path, symbol, oldFunc, newFunc, byDynamic, file);
  CloseElfFile(file);
  return code;
}

int hookFunc(const char* path, const char* symbol, void* oldFunc, void* newFunc) {
  if (oldFunc == newFunc) return 1;
  int code = patchGot(path, symbol, oldFunc, newFunc, 0);
  if (code == GOT_PATCHED) return 0;
  GOT_LOG("hookFunc in %s by section fail with error: %d", printablePath(path), code);
  return code * 10;
}
