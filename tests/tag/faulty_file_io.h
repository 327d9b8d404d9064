// A third set of the four file primitives, on POSIX descriptors like the native
// ones, that counts its calls and can make one of them fail, come up short or
// land elsewhere.
#pragma once

enum class FaultKind {
    Fail,             // the call fails and moves no byte
    Short,            // a read or write moves half of what was asked and reports success
    PartialThenFail,  // a read or write moves half of what was asked, then reports failure
    Elsewhere,        // a seek from the start succeeds one byte off what was asked
                      // (before it, or after it when asked for the start) and
                      // stores the position it really reached
};

// Restarts the call count; the n-th primitive call from now (1 = the next one)
// gets the fault. Only a read or write can be short or partial, and only a
// seek from the start can land elsewhere (the end is wherever a seek from it
// says), so a call armed with a kind that does not apply to it runs normally.
void ArmFault(int n, FaultKind kind);

// Restarts the call count with no fault armed.
void DisarmFault();

// Primitive calls since the last ArmFault or DisarmFault.
int PrimitiveCalls();

// The name of the primitive the fault went into ("FileRead", ...), or nullptr
// while none did: the armed call has not come, or its kind did not apply.
const char* FaultedPrimitive();
