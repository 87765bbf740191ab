#include "link/MeterAccess.h"

#include <QCoreApplication>
#include <QDir>

namespace meterlink {

namespace {
// What the library itself answers when an open, a close or a block read fails.
constexpr std::int32_t kCallFailed = -1;

QString besideExecutable() {
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QString::fromLatin1(MeterAccess::kLibraryName));
}
} // namespace

MeterAccess::MeterAccess() : MeterAccess(besideExecutable()) {}

MeterAccess::MeterAccess(const QString& libraryFile) : m_library(libraryFile) {
    m_loaded = m_library.load();
    if (m_loaded) {
        resolve();
    }
}

// The library stays loaded until the process ends: its open ports live inside it.
MeterAccess::~MeterAccess() = default;

void MeterAccess::resolve() {
    m_open = reinterpret_cast<OpenFn>(m_library.resolve("OpenPort_Modbus"));
    m_close = reinterpret_cast<CloseFn>(m_library.resolve("ClosePort_Modbus"));
    m_bit = reinterpret_cast<BitFn>(m_library.resolve("Get_0X_Bit1"));
    m_word = reinterpret_cast<WordFn>(m_library.resolve("Get_3X_D1"));
    m_floats = reinterpret_cast<FloatsFn>(m_library.resolve("Get_3X_DR8"));
    m_words = reinterpret_cast<WordsFn>(m_library.resolve("Get_4X_D8"));
    m_write = reinterpret_cast<WriteFn>(m_library.resolve("Set_4X_D1"));
}

std::int32_t MeterAccess::OpenPort_Modbus(std::int32_t port, std::int32_t baudChoice,
                                          std::int32_t parityChoice) {
    return m_open ? m_open(port, baudChoice, parityChoice) : kCallFailed;
}

std::int32_t MeterAccess::ClosePort_Modbus(std::int32_t port) {
    return m_close ? m_close(port) : kCallFailed;
}

std::int32_t MeterAccess::Get_0X_Bit1(std::int32_t port, std::int32_t address, std::int32_t coil) {
    return m_bit ? m_bit(port, address, coil) : 0;
}

std::int32_t MeterAccess::Get_3X_D1(std::int32_t port, std::int32_t address,
                                    std::int32_t inputRegister) {
    return m_word ? m_word(port, address, inputRegister) : 0;
}

float MeterAccess::Get_3X_DR8(std::int32_t port, std::int32_t address,
                              std::int32_t firstInputRegister, float* dest) {
    return m_floats ? m_floats(port, address, firstInputRegister, dest) : 0.0F;
}

std::int32_t MeterAccess::Get_4X_D8(std::int32_t port, std::int32_t address,
                                    std::int32_t firstHoldingRegister, std::int32_t* dest) {
    return m_words ? m_words(port, address, firstHoldingRegister, dest) : kCallFailed;
}

std::int32_t MeterAccess::Set_4X_D1(std::int32_t port, std::int32_t address,
                                    std::int32_t holdingRegister, std::int32_t value) {
    return m_write ? m_write(port, address, holdingRegister, value) : kWriteFailed;
}

} // namespace meterlink
