// Compiled, never run, by the binding checks: a stdcall binding must fail
// to compile when its prototype pops other bytes than the import library
// declares, is not stdcall, or names a function the library lacks.
#include "import_tables.h"

#include <cstdint>

#if defined(QM_PROBE_WRONG_SIZE)
extern "C" intptr_t QM_STDCALL probe(void *, const char *, void *, void *, intptr_t, int16_t);
#elif defined(QM_PROBE_CDECL)
extern "C" intptr_t probe(void *, const char *, void *, void *, intptr_t);
#else
extern "C" intptr_t QM_STDCALL probe(void *, const char *, void *, void *, intptr_t);
#endif

#if defined(QM_PROBE_UNDECLARED)
#define QM_PROBE_NAME "DialogBoxParamQ"
#else
#define QM_PROBE_NAME "DialogBoxParamA"
#endif

constexpr uint32_t kProbeBytes = QM_CHECKED_STDCALL(corvane::pe::kUser32Declared, QM_PROBE_NAME, probe);
static_assert(kProbeBytes == 20);
