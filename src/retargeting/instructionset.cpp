#include "retargeting/instructionset.h"

#include <atomic>

namespace Corvanith::Graphics::Retargeting {

namespace {

TInstructionSet ProcessorSet()
{
    static const TInstructionSet best =
        __builtin_cpu_supports("avx2") ? TInstructionSet::Avx2 : TInstructionSet::Sse2;
    return best;
}

std::atomic<TInstructionSet>& Chosen()
{
    static std::atomic<TInstructionSet> chosen{ProcessorSet()};
    return chosen;
}

} // namespace

TInstructionSet InstructionSet() { return Chosen().load(std::memory_order_relaxed); }

void SetInstructionSet(TInstructionSet Value)
{
    Chosen().store(ProcessorSet() == TInstructionSet::Sse2 ? TInstructionSet::Sse2 : Value,
                   std::memory_order_relaxed);
}

} // namespace Corvanith::Graphics::Retargeting
