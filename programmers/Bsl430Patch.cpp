#include "programmers/Bsl_unit.h"

#include <span>

// Loader 1.10 erases wrongly until a patch runs from its RAM: the patch is
// written and verified once, and then run before every command that erases
// or writes flash.

namespace programmers {

using namespace bsl430;

namespace {

constexpr std::uint16_t PatchPrepareAddress = 0x0C22; // load PC here before the patch goes in

} // namespace

bool T_BSL430::LoadPatch() {
    TTiTxtResult result;
    const auto read = [this](const std::string& text) {
        return ReadTiTxt(text.data(), text.size(), std::span(*Patch));
    };
    if (!ReadImageFile(PatchFileName, read, result)) {
        return false;
    }
    LastPatch = result.LastRecord;
    ProgressTotal = ProgressFixed + 8 * LastRecord + 4 * LastPatch + ProgressPatch;
    Host.SetProgressMaximum(ProgressTotal, ProgressUnit::Blocks);
    return true;
}

void T_BSL430::DetourSync(Step next) {
    if (PatchLoaded == 0) {
        Sync(next);
        return;
    }
    DetourNext = next;
    Sync(&T_BSL430::DetourRun);
}

void T_BSL430::PatchPrepare() {
    Arm(StepPatchPrepare, &T_BSL430::PatchToPassword, nullptr, &T_BSL430::PatchPrepare);
    SendLoadPc(PatchPrepareAddress);
}

void T_BSL430::PatchToPassword() {
    Sync(&T_BSL430::PatchPassword);
}

void T_BSL430::PatchPassword() {
    Arm(bsl430::StepPassword, &T_BSL430::PatchWriteStart, nullptr, &T_BSL430::PatchPassword);
    SendPassword();
}

void T_BSL430::PatchWriteStart() {
    PatchIndex = 0;
    Sync(&T_BSL430::PatchWrite);
}

void T_BSL430::PatchWrite() {
    const TTiTxtRecord& record = (*Patch)[static_cast<std::size_t>(PatchIndex)];
    if (DataCount(record) == 0) {
        PatchWriteNext();
        return;
    }
    Arm(StepPatchWrite, &T_BSL430::PatchWriteNext, nullptr, &T_BSL430::PatchWrite);
    SendWrite(record);
}

void T_BSL430::PatchWriteNext() {
    Sync(Advance(PatchIndex, LastPatch, &T_BSL430::PatchWrite, &T_BSL430::PatchVerify));
}

void T_BSL430::PatchVerify() {
    const TTiTxtRecord& record = (*Patch)[static_cast<std::size_t>(PatchIndex)];
    if (DataCount(record) == 0) {
        PatchVerifyNext();
        return;
    }
    Arm(StepPatchVerify, nullptr, &T_BSL430::PatchVerifyCompare, &T_BSL430::PatchVerify);
    SendRead(record);
}

void T_BSL430::PatchVerifyCompare(const TBslFrame& frame) {
    if (!SameRecord((*Patch)[static_cast<std::size_t>(PatchIndex)], frame, PatchFileName)) {
        FailStep(Difference);
        return;
    }
    PatchVerifyNext();
}

void T_BSL430::PatchVerifyNext() {
    const Step next = Advance(PatchIndex, LastPatch, &T_BSL430::PatchVerify, &T_BSL430::StepErase);
    if (next == &T_BSL430::StepErase) {
        PatchLoaded = 1;
    }
    Sync(next);
}

void T_BSL430::DetourRun() {
    std::uint16_t address = 0;
    for (std::int32_t i = 0; i <= LastPatch; ++i) {
        const TTiTxtRecord& record = (*Patch)[static_cast<std::size_t>(i)];
        if (DataCount(record) > 0) {
            address = record.Address;
            break;
        }
    }
    Arm(StepPatchRun, &T_BSL430::DetourDone, nullptr, &T_BSL430::DetourRun);
    SendLoadPc(address);
}

void T_BSL430::DetourDone() {
    Sync(DetourNext);
}

} // namespace programmers
