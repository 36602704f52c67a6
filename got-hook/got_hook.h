// Redirects the calls that a loaded shared library makes to one imported
// function by rewriting the words of its global offset table (GOT).
//
// Plain functions and plain data with C linkage, usable without the rest of the
// monitor. Works on the native ELF class of the build (ELF32 on arm/i386, ELF64
// on arm64/x86_64). Every diagnostic goes to the Android log under the tag
// "GOTHookLibrary". Nothing here undoes a patch.
#pragma once

#include <link.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

// One loaded library, described for the duration of one patchGot call. Only the
// fields the chosen mode needs are filled. Table addresses are run-time addresses.
typedef struct ElfModuleInfo {
  ElfW(Addr) base;             // start of the library's first mapping
  ElfW(Addr) loadBias;         // base minus the lowest PT_LOAD p_vaddr
  const ElfW(Ehdr)* ehdr;      // ELF header as mapped, == base
  const ElfW(Phdr)* phdr;      // program headers as mapped (may be unaligned)

  size_t gotSize;              // sh_size of ".got"
  size_t gotPltSize;           // sh_size of ".got.plt"
  ElfW(Addr) gotAddr;          // link-time sh_addr of ".got"
  ElfW(Addr) gotPltAddr;       // link-time sh_addr of ".got.plt"; 0 when absent

  const ElfW(Dyn)* dynamic;    // PT_DYNAMIC as mapped
  size_t dynamicCount;
  const ElfW(Sym)* symtab;     // DT_SYMTAB
  const void* jmprel;          // DT_JMPREL, REL or RELA entries per jmprelIsRela
  size_t jmprelCount;
  bool jmprelIsRela;           // DT_PLTREL says DT_RELA
  const ElfW(Rel)* rel;        // DT_REL
  size_t relCount;
  const ElfW(Rela)* rela;      // DT_RELA
  size_t relaCount;
  uint32_t nbucket;            // DT_HASH header words
  uint32_t nchain;
  const uint32_t* bucket;
  const uint32_t* chain;
  const char* strtab;          // DT_STRTAB
} ElfModuleInfo;

// Patches `symbol`'s GOT words of the library mapped from `path` in section mode.
// 0 success, 1 when oldFunc == newFunc (nothing touched), otherwise 10 x the
// patchGot code (10..60), after logging it.
int hookFunc(const char* path, const char* symbol, void* oldFunc, void* newFunc);

// Result codes of patchGot. The checks run in the order 1, 2, 6, 3, 4, 5; the
// first that fails gives the code.
enum {
  GOT_PATCHED = 0,
  GOT_ERR_OPEN = 1,        // path cannot be opened for reading
  GOT_ERR_NOT_MAPPED = 2,  // no mapping of path, maps unreadable, deleted file, or unreadable mapping
  GOT_ERR_NO_LOAD = 3,     // no PT_LOAD program header
  GOT_ERR_NO_GOT = 4,      // section table unusable / no ".got" / no PT_DYNAMIC
  GOT_ERR_NOTHING = 5,     // no slot was replaced
  GOT_ERR_HEADER = 6,      // the mapped ELF header is not usable
};

// Section mode (byDynamic == 0): replaces every word of ".got" and ".got.plt"
// that holds oldFunc. Dynamic mode: replaces the slots of `symbol`'s JUMP_SLOT,
// GLOB_DAT and absolute relocations; oldFunc plays no part there.
int patchGot(const char* path, const char* symbol, void* oldFunc, void* newFunc, int byDynamic);

// Start address of the first mapping in /proc/self/maps whose line contains
// `path`, or 0 (also when that line belongs to a deleted file).
ElfW(Addr) GetModuleBaseAddr(const char* path);

FILE* OpenElfFile(const char* path);
void CloseElfFile(FILE* file);

// Makes the page holding `address` readable and writable; false (and a log line)
// when the system refuses, in which case the page must not be written.
bool make_mem_writable(ElfW(Addr) address);

// Reads the section-header string table of the file behind `info` into a new
// malloc'ed *buffer (the caller frees it); *size receives its length.
bool getShstrtabContent(const ElfModuleInfo* info, FILE* file, void** buffer, size_t* size);

// Finds ".got" and ".got.plt" in the file's section headers and checks that they
// lie in a writable segment of the mapped library.
bool findGotBySections(ElfModuleInfo* info, FILE* file);

// Reads PT_DYNAMIC and the tables it points to; false without PT_DYNAMIC.
bool readDynamicSegment(ElfModuleInfo* info);

// The System V ELF hash.
uint32_t elf_hash(const char* name);

// Looks `name` up in the DT_HASH table; fills whichever out-pointer is not null
// when found. Table reads stay within the mapped library.
void findSymByName(const ElfModuleInfo* info, const char* name, const ElfW(Sym)** symOut,
                   uint32_t* indexOut);

// Sets loadBias from the lowest PT_LOAD p_vaddr; false without PT_LOAD.
bool findActualLoadBias(ElfModuleInfo* info);

#ifdef __cplusplus
}
#endif
