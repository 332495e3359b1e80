#include "transport/aspi.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

#include "transport/spti.h"

namespace brennix {

namespace {

enum class Layer : uint8_t { None, Emulation, ManagerLibrary };

struct LayerState {
  std::atomic<bool> loaded{false};
  std::atomic<Layer> layer{Layer::None};
  std::atomic<void*> library{nullptr};
  std::atomic<GetASPI32SupportInfoFn> supportInfo{nullptr};
  std::atomic<SendASPI32CommandFn> sendCommand{nullptr};
  std::atomic<bool> useSPTI{true};
  std::recursive_mutex loadMutex;  // choosing a layer is not re-entered from two threads
};

LayerState& State() {
  static LayerState* state = new LayerState;
  return *state;
}

void UseEmulation(LayerState& state) {
  state.supportInfo.store(&SPTISupportInfo);
  state.sendCommand.store(&SPTISendCommand);
  state.layer.store(Layer::Emulation);
  state.loaded.store(true);
}

void* TryLoadLibrary(const std::string& path) {
  if (path.empty()) return nullptr;
  try {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  } catch (...) {
    return nullptr;
  }
}

// Frees the manager library and the emulation's table when the process ends.
struct ProcessEnd {
  ~ProcessEnd() {
    ASPIUnload();
    if (SPTIInitialized()) SPTIDone();
  }
} g_processEnd;

}  // namespace

uint32_t GetASPI32SupportInfo() {
  const GetASPI32SupportInfoFn fn = State().supportInfo.load();
  if (fn == nullptr) return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
  return fn();
}

uint32_t SendASPI32Command(SRB_Header* srb) {
  const SendASPI32CommandFn fn = State().sendCommand.load();
  if (fn == nullptr) {
    if (srb != nullptr) srb->SRB_Status = SS_INVALID_SRB;
    return SS_INVALID_SRB;
  }
  return fn(srb);
}

bool ASPILoaded() { return State().loaded.load(); }

std::string ASPILayerName() {
  switch (State().layer.load()) {
    case Layer::Emulation: return kEmulationLayerName;
    case Layer::ManagerLibrary: return kManagerLibraryName;
    case Layer::None: break;
  }
  return std::string();
}

bool ASPIUsesEmulation() { return State().layer.load() == Layer::Emulation; }
void* ASPILibrary() { return State().library.load(); }
bool ASPIUseSPTI() { return State().useSPTI.load(); }

std::string ManagerLibraryCandidate(int attempt, const std::string& LibraryPath) {
  // Never a path relative to the working folder: a library planted where the program runs
  // would be executed. An absolute path, or a bare name the system's library folders serve.
  const bool safe = LibraryPath.empty() || LibraryPath.front() == '/' ||
                    LibraryPath.find('/') == std::string::npos;
  switch (attempt) {
    case 0: return safe ? LibraryPath : std::string();
    case 1: return kManagerLibraryName;
    default: return std::string();
  }
}

bool ASPILoad(bool UseSPTI, const std::string& LibraryPath) {
  LayerState& state = State();
  std::lock_guard guard(state.loadMutex);

  if (UseSPTI && SPTIInit() != 0) UseEmulation(state);

  if (!state.loaded.load()) {
    void* library = nullptr;
    for (int attempt = 0; attempt < 3 && library == nullptr; ++attempt)
      library = TryLoadLibrary(ManagerLibraryCandidate(attempt, LibraryPath));
    if (library != nullptr) {
      auto info = reinterpret_cast<GetASPI32SupportInfoFn>(dlsym(library, "GetASPI32SupportInfo"));
      auto send = reinterpret_cast<SendASPI32CommandFn>(dlsym(library, "SendASPI32Command"));
      if (info != nullptr && send != nullptr) {
        state.library.store(library);
        state.supportInfo.store(info);
        state.sendCommand.store(send);
        state.layer.store(Layer::ManagerLibrary);
        state.loaded.store(true);
      } else {
        // A library without both entry points is no layer: nothing may call through it.
        dlclose(library);
      }
    }
    if (!state.loaded.load() && SPTIInit() != 0) UseEmulation(state);
  }

  if (state.loaded.load()) GetASPI32SupportInfo();
  state.useSPTI.store(UseSPTI);
  return state.loaded.load();
}

bool ASPIUnload() {
  LayerState& state = State();
  std::lock_guard guard(state.loadMutex);
  void* library = state.library.load();
  if (library == nullptr) return true;
  state.loaded.store(false);
  state.supportInfo.store(nullptr);
  state.sendCommand.store(nullptr);
  state.layer.store(Layer::None);
  state.library.store(nullptr);
  return dlclose(library) == 0;
}

bool ASPIReload() {
  LayerState& state = State();
  std::lock_guard guard(state.loadMutex);
  if (state.layer.load() == Layer::Emulation) {
    state.loaded.store(false);
    state.supportInfo.store(nullptr);
    state.sendCommand.store(nullptr);
    state.layer.store(Layer::None);
    SPTIDone();
  } else {
    ASPIUnload();
  }
  ASPILoad(state.useSPTI.load(), std::string());
  return true;
}

}  // namespace brennix
