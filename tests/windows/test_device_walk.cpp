// The walk over a moniker enumerator, fed by fake devices. After every walk each fake is
// back at the test's one reference and every string a property bag handed out is freed.

#include "capture/com_device_walk.h"

#include "com_fakes.h"

using Vardel::com::collectDeviceNames;
using Vardel::com::DeviceName;
using Answer = fakes::PropertyBag::Answer;
using Names = std::vector<DeviceName>;

class MonikerWalk : public ::testing::Test {
protected:
    void SetUp() override
    {
        liveBefore_ = memory_.live();
        allocationsBefore_ = memory_.allocations();
    }

    void TearDown() override
    {
        EXPECT_TRUE(devices.allReleased());
        EXPECT_EQ(devices.enumerator().nextCallsAfterEnd(), 0u) << "the walk went on after S_FALSE";
        EXPECT_EQ(memory_.live(), liveBefore_) << "task memory (BSTRs) left allocated by the walk";
        // Proves the count above watched the strings at all.
        EXPECT_GE(memory_.allocations() - allocationsBefore_, devices.stringsHandedOut());
    }

    Names walk() { return collectDeviceNames(&devices.enumerator()); }

    fakes::Devices devices;

private:
    fakes::TaskMemory& memory_ = fakes::TaskMemory::instance();
    long liveBefore_ = 0;
    long allocationsBefore_ = 0;
};

TEST_F(MonikerWalk, DeviceWithoutReadableNameKeepsItsIndex)
{
    devices.addNamed(L"Front Camera");
    devices.add(Answer::Fails);
    devices.addNamed(L"Capture Card");

    EXPECT_EQ(walk(), (Names{{0, L"Front Camera"}, {2, L"Capture Card"}}));
}

TEST_F(MonikerWalk, EveryMonikerUsesUpAnIndex)
{
    devices.addUnbindable();
    devices.add(Answer::Number);
    devices.add(Answer::Object); // cleared means its object released: allReleased checks it
    devices.add(Answer::FailsAfterFilling, L"half-read");
    devices.addNamed(L"Camera");

    EXPECT_EQ(walk(), (Names{{4, L"Camera"}}));
}

TEST_F(MonikerWalk, NamesAreKeptExactly)
{
    devices.addNamed(L"USB Camera: Front: 1080p");
    devices.addNamed(L"");
    devices.add(Answer::NullText);
    devices.addNamed(L"Camera");
    devices.addNamed(L"Camera");
    devices.addNamed(L"Kamera \u00e4\u00df \U0001F4F7"); // a surrogate pair in UTF-16
    devices.addNamed(L" padded ");

    EXPECT_EQ(walk(), (Names{{0, L"USB Camera: Front: 1080p"},
                             {1, L""},
                             {2, L""},
                             {3, L"Camera"},
                             {4, L"Camera"},
                             {5, L"Kamera \u00e4\u00df \U0001F4F7"},
                             {6, L" padded "}}));
}

TEST_F(MonikerWalk, EmptyOrNullEnumeratorGivesNothing)
{
    EXPECT_TRUE(walk().empty());
    EXPECT_EQ(devices.enumerator().nextCalls(), 1u);
    EXPECT_TRUE(collectDeviceNames(nullptr).empty());
}

TEST_F(MonikerWalk, OnlySOkHandsOverAMoniker)
{
    devices.addNamed(L"First");
    devices.addAnswer(S_OK, false); // no moniker after all: its index is used up
    devices.addNamed(L"Third");
    devices.addAnswer(static_cast<HRESULT>(2), true); // a success other than S_OK, with a moniker
    devices.addNamed(L"Never reached");

    EXPECT_EQ(walk(), (Names{{0, L"First"}, {2, L"Third"}}));
}
