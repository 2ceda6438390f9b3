#pragma once
// The widest instruction set the engine's loops use: AVX2 where the processor
// has it, otherwise SSE2 (which every x86-64 processor has). Tests lower it to
// run the paths of older processors on this one.
namespace Corvanith::Graphics::Retargeting {

enum class TInstructionSet { Sse2, Avx2 };

TInstructionSet InstructionSet();
// Never raises it above what the processor has.
void SetInstructionSet(TInstructionSet Value);

inline bool UseAvx2() { return InstructionSet() == TInstructionSet::Avx2; }

} // namespace Corvanith::Graphics::Retargeting
