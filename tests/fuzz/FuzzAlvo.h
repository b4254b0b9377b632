#pragma once
// What every fuzz target of the records store offers besides LLVMFuzzerTestOneInput: its seed
// inputs (valid files of each kind) and how many inputs it has accepted, so that the replay
// test can tell that the seeds still parse.
#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace norvix::fuzz {

std::vector<QByteArray> sementes();
// Inputs accepted (parsed without error) since the program started.
long aceitos();

// A violated property: stop at once so that libFuzzer and the replay test both see it.
[[noreturn]] inline void violacao() { __builtin_trap(); }
inline void exige(bool condicao) {
    if (!condicao) violacao();
}

}  // namespace norvix::fuzz
