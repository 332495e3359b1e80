// Choosing the layer that serves the two ASPI entry points: an ASPI manager library loaded at
// run time, or our own emulation over the platform pass-through ("QVASPI32").
#pragma once

#include <cstdint>
#include <string>

#include "transport/srb.h"

namespace brennix {

using GetASPI32SupportInfoFn = uint32_t (*)();
using SendASPI32CommandFn = uint32_t (*)(SRB_Header* srb);

constexpr const char* kEmulationLayerName = "QVASPI32";
constexpr const char* kManagerLibraryName = "WNASPI32.DLL";

// The two entry points. They call whichever layer is in use; with none loaded they answer
// SS_NO_ADAPTERS in the high byte, respectively SS_INVALID_SRB, instead of calling nowhere.
uint32_t GetASPI32SupportInfo();
uint32_t SendASPI32Command(SRB_Header* srb);

// True while a layer is chosen and its entry points are set.
bool ASPILoaded();
inline bool ASPIInitialized() { return ASPILoaded(); }
// "QVASPI32", "WNASPI32.DLL" or empty.
std::string ASPILayerName();
bool ASPIUsesEmulation();
// The handle of the loaded manager library, null with the emulation.
void* ASPILibrary();
bool ASPIUseSPTI();

// Chooses a layer; true when one is in use.
bool ASPILoad(bool UseSPTI, const std::string& LibraryPath);
// Drops the current layer and chooses again with the last preference.
bool ASPIReload();
// Frees the manager library when one is loaded.
bool ASPIUnload();

// The names tried for the manager library, in order: LibraryPath when it is absolute or a
// bare name, then the bare kManagerLibraryName (found in the system's library folders only).
std::string ManagerLibraryCandidate(int attempt, const std::string& LibraryPath);

}  // namespace brennix
