// The settings service: what a query and a set do, and what they refuse.
#include "support.h"

#include <cstdint>
#include <windows.h>

namespace {

PVOID as_param(intptr_t value)
{
    return reinterpret_cast<PVOID>(value);
}

class Settings : public ScratchHome {};

TEST_F(Settings, QueryReportsTheDefaultThenTheStoredValue)
{
    EXPECT_EQ(stored_speed(), 10);
    EXPECT_EQ(SystemParametersInfoA(SPI_SETMOUSESPEED, 0, as_param(15), SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE),
              TRUE);
    EXPECT_EQ(stored_speed(), 15);
    EXPECT_EQ(read_file(profile), "MouseSpeed=15\n");
}

TEST_F(Settings, QueryFailsWhenTheProfileCannotBeRead)
{
    fs::create_directories(profile);
    int speed = 3;
    EXPECT_EQ(SystemParametersInfoA(SPI_GETMOUSESPEED, 0, &speed, 0), FALSE);
    EXPECT_EQ(speed, 3) << "a failed query writes nothing";
    EXPECT_EQ(SystemParametersInfoA(SPI_GETMOUSESPEED, 0, nullptr, 0), FALSE);
}

struct RefusedCase {
    const char *name;
    UINT action;
    intptr_t value;
    UINT flags;
};

std::ostream &operator<<(std::ostream &os, const RefusedCase &c)
{
    return os << c.name;
}

class Refused : public ScratchHome, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(Refused, ChangesNothing)
{
    write_profile("MouseSpeed=12\n");
    const RefusedCase &c = GetParam();
    EXPECT_EQ(SystemParametersInfoA(c.action, 0, as_param(c.value), c.flags), FALSE);
    EXPECT_EQ(read_file(profile), "MouseSpeed=12\n");
}

constexpr UINT store_and_announce = SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE;

INSTANTIATE_TEST_SUITE_P(Calls, Refused,
                         ::testing::Values(RefusedCase{"zero", SPI_SETMOUSESPEED, 0, store_and_announce},
                                           RefusedCase{"negative", SPI_SETMOUSESPEED, -3, store_and_announce},
                                           RefusedCase{"above_scale", SPI_SETMOUSESPEED, 21, store_and_announce},
                                           RefusedCase{"int_max", SPI_SETMOUSESPEED, INT32_MAX, store_and_announce},
                                           RefusedCase{"wraps_to_15", SPI_SETMOUSESPEED, (intptr_t{1} << 32) + 15,
                                                       store_and_announce},
                                           RefusedCase{"not_stored", SPI_SETMOUSESPEED, 15, SPIF_SENDWININICHANGE},
                                           RefusedCase{"no_flags", SPI_SETMOUSESPEED, 15, 0},
                                           RefusedCase{"unknown_action", 114, 15, store_and_announce}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
