#include "platform/key_codes.h"

#include <gtest/gtest.h>

namespace {

TEST(KeyCodes, PhysicalKeysGiveWindowsVirtualKeys) {
  struct Case {
    uint32_t evdev;
    int vk;
  } cases[] = {
      {1, 0x1B},              {2, '1'},          {11, '0'},      {16, 'Q'},
      {30, 'A'},              {44, 'Z'},         {50, 'M'},      {28, 0x0D},
      {96, 0x0D + 256},       {42, 0x10},        {54, 0x10},     {29, 0x11},
      {97, 0x11 + 256},       {56, 0x12},        {100, 0x12 + 256},
      {103, 0x26 + 256},      {105, 0x25 + 256}, {106, 0x27 + 256}, {108, 0x28 + 256},
      {59, 0x70},             {68, 0x79},        {87, 0x7A},     {88, 0x7B},
      {82, 0x60},             {73, 0x69},        {78, 0x6B},     {74, 0x6D},
      {111, 0x2E + 256},      {14, 0x08},        {58, 0x14},     {86, 0xE2},
      {39, 0xBA},             {12, 0xBD},        {5000, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(VirtualKeyFromEvdev(c.evdev), c.vk) << "evdev " << c.evdev;
}

}  // namespace
