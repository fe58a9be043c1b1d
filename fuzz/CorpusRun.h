#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>

// The one entry of every fuzz target here, as libFuzzer calls it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// The stand-alone driver of a target built without libFuzzer, as the corpus
// tests run it.
namespace CorpusRun {

// Hands one input to the target.
void test(const QByteArray &input);

// Gives `each` the bytes of every file named in `argv` and of every file in
// every folder named (in name order; an unreadable file is passed over);
// `each` answers how many inputs it ran from them. Prints the total and
// answers the exit status: a failure when nothing ran.
int main(int argc, char **argv, const std::function<int(const QByteArray &)> &each);

} // namespace CorpusRun
