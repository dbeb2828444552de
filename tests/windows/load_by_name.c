/* An application's view of Vantrel.dll: LoadLibraryA, then GetProcAddress by the plain
 * names. Checks that the DLL exports exactly the functions the header declares, then,
 * by mode:
 *   no-reader     the disk and HID searches find nothing under Wine and answer -10;
 *   stand-in      VANTREL_SIMULATOR=disk,hid is set: both links reach the stand-in;
 *   serial N      a reader answers on COM N (the Linux stand-in behind Wine's port).
 * Usage: load_by_name DLL HEADER MODE [N]. Prints "ok" and exits 0 when all hold. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vantrel/vantrel.h>

typedef int(FPI_CALL* PortFn)(int);
typedef int(FPI_CALL* VersionFn)(int, unsigned char*, int*);
typedef int(FPI_CALL* SetLevelFn)(int, int);
typedef int(FPI_CALL* GetLevelFn)(int, int*);

static int g_failures = 0;

static void Expect(int condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "failed: %s\n", what);
    ++g_failures;
  }
}

/* The names in the export directory of the loaded image. */
static int ExportedNames(HMODULE module, const char** names, int capacity) {
  const BYTE* base = (const BYTE*)module;
  const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
  const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY* dir = &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir->VirtualAddress == 0) return 0;
  const IMAGE_EXPORT_DIRECTORY* exports =
      (const IMAGE_EXPORT_DIRECTORY*)(base + dir->VirtualAddress);
  const DWORD* name_rvas = (const DWORD*)(base + exports->AddressOfNames);
  int count = (int)exports->NumberOfNames;
  for (int i = 0; i < count && i < capacity; ++i) names[i] = (const char*)(base + name_rvas[i]);
  if (exports->NumberOfFunctions != exports->NumberOfNames) return -1; /* unnamed exports */
  return count;
}

/* The names the header declares ("int FPI_CALL FPIname("). */
static int DeclaredNames(const char* header_path, char names[][64], int capacity) {
  FILE* f = fopen(header_path, "rb");
  if (f == NULL) return -1;
  static char text[65536];
  size_t n = fread(text, 1, sizeof text - 1, f);
  fclose(f);
  text[n] = '\0';
  int count = 0;
  const char* marker = "int FPI_CALL ";
  for (const char* p = strstr(text, marker); p != NULL; p = strstr(p + 1, marker)) {
    const char* name = p + strlen(marker);
    size_t length = strcspn(name, "(");
    if (count < capacity && length < 64) {
      memcpy(names[count], name, length);
      names[count][length] = '\0';
      ++count;
    }
  }
  return count;
}

static void CheckExports(HMODULE module, const char* header_path) {
  const char* exported[128];
  static char declared[128][64];
  const int exported_count = ExportedNames(module, exported, 128);
  const int declared_count = DeclaredNames(header_path, declared, 128);
  Expect(declared_count == 50, "the header declares 50 functions");
  Expect(exported_count == declared_count, "as many exports as declarations, all named");
  for (int i = 0; i < declared_count; ++i) {
    int found = 0;
    for (int j = 0; j < exported_count; ++j) found |= strcmp(declared[i], exported[j]) == 0;
    if (!found || GetProcAddress(module, declared[i]) == NULL) {
      fprintf(stderr, "not exported by its plain name: %s\n", declared[i]);
      ++g_failures;
    }
  }
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: load_by_name DLL HEADER no-reader|stand-in|serial N\n");
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == NULL) {
    fprintf(stderr, "LoadLibraryA(%s) failed: %lu\n", argv[1], GetLastError());
    return 1;
  }
  CheckExports(module, argv[2]);
  PortFn reset = (PortFn)(void*)GetProcAddress(module, "FPIReset");
  VersionFn version = (VersionFn)(void*)GetProcAddress(module, "FPIGetVersion");
  SetLevelFn set_level = (SetLevelFn)(void*)GetProcAddress(module, "FPISetSecurityLevel");
  GetLevelFn get_level = (GetLevelFn)(void*)GetProcAddress(module, "FPIGetSecurityLevel");
  if (reset == NULL || version == NULL || set_level == NULL || get_level == NULL) return 1;

  const char* mode = argv[3];
  unsigned char text[FPI_VERSION_BUFFER_BYTES + 1];
  int length = -1;
  int level = -1;
  if (strcmp(mode, "no-reader") == 0) {
    Expect(reset(0) == -10, "FPIReset(0) answers -10 without a disk reader");
    Expect(reset(9) == -10, "FPIReset(9) answers -10 without a HID reader");
    Expect(version(0, text, &length) == -10 && length == -1,
           "FPIGetVersion(0) answers -10 and leaves the length");
    Expect(get_level(9, &level) == -10 && level == -1,
           "FPIGetSecurityLevel(9) answers -10 and leaves the level");
  } else if (strcmp(mode, "stand-in") == 0 || strcmp(mode, "serial") == 0) {
    int ports[2] = {0, 9};
    int port_count = 2;
    if (strcmp(mode, "serial") == 0) {
      ports[0] = argc > 4 ? atoi(argv[4]) : 0;
      port_count = 1;
    }
    for (int i = 0; i < port_count; ++i) {
      const int port = ports[i];
      memset(text, 0, sizeof text);
      length = -1;
      const int rc = version(port, text, &length);
      printf("port %d: FPIGetVersion -> %d \"%.*s\"\n", port, rc,
             length > 0 && length <= FPI_VERSION_BUFFER_BYTES ? length : 0, (char*)text);
      Expect(rc == 0 && length > 0, "FPIGetVersion answers 0 with text");
      Expect(set_level(port, 7) == 0, "FPISetSecurityLevel(port, 7) answers 0");
      Expect(get_level(port, &level) == 0 && level == 7, "FPIGetSecurityLevel reads 7 back");
      Expect(reset(port) == 0, "FPIReset answers 0");
    }
  } else {
    fprintf(stderr, "unknown mode %s\n", mode);
    return 2;
  }
  FreeLibrary(module);
  printf("%s\n", g_failures == 0 ? "ok" : "failed");
  return g_failures == 0 ? 0 : 1;
}
