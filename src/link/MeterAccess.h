#pragma once

#include <QLibrary>
#include <QString>

#include <cstdint>

namespace meterlink {

/// The meter-access library, loaded at run time by name and called through its seven operations.
/// A missing library or symbol makes each call fail the way a failed call does.
class MeterAccess {
  public:
    /// Default library name, looked up in the folder of the running executable.
#ifdef _WIN32
    static constexpr const char* kLibraryName = "MODBUS485.dll";
#else
    static constexpr const char* kLibraryName = "modbus485";
#endif

    /// Loads the library beside the executable.
    MeterAccess();
    /// Loads the library from an explicit file (tests load a scripted double this way).
    explicit MeterAccess(const QString& libraryFile);
    ~MeterAccess();
    MeterAccess(const MeterAccess&) = delete;
    MeterAccess& operator=(const MeterAccess&) = delete;

    [[nodiscard]] bool isLoaded() const { return m_loaded; }

    std::int32_t OpenPort_Modbus(std::int32_t port, std::int32_t baudChoice,
                                 std::int32_t parityChoice);
    std::int32_t ClosePort_Modbus(std::int32_t port);
    std::int32_t Get_0X_Bit1(std::int32_t port, std::int32_t address, std::int32_t coil);
    std::int32_t Get_3X_D1(std::int32_t port, std::int32_t address, std::int32_t inputRegister);
    float Get_3X_DR8(std::int32_t port, std::int32_t address, std::int32_t firstInputRegister,
                     float* dest);
    std::int32_t Get_4X_D8(std::int32_t port, std::int32_t address,
                           std::int32_t firstHoldingRegister, std::int32_t* dest);
    std::int32_t Set_4X_D1(std::int32_t port, std::int32_t address, std::int32_t holdingRegister,
                           std::int32_t value);

    /// Result of Set_4X_D1 for a write that failed.
    static constexpr std::int32_t kWriteFailed = -8888;

  private:
    void resolve();

    using OpenFn = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t);
    using CloseFn = std::int32_t (*)(std::int32_t);
    using BitFn = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t);
    using WordFn = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t);
    using FloatsFn = float (*)(std::int32_t, std::int32_t, std::int32_t, float*);
    using WordsFn = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t, std::int32_t*);
    using WriteFn = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t, std::int32_t);

    QLibrary m_library;
    bool m_loaded = false;
    OpenFn m_open = nullptr;
    CloseFn m_close = nullptr;
    BitFn m_bit = nullptr;
    WordFn m_word = nullptr;
    FloatsFn m_floats = nullptr;
    WordsFn m_words = nullptr;
    WriteFn m_write = nullptr;
};

} // namespace meterlink
