// The install folder rules: default under Program Files, the pick and the picker's start.
#include "install/install_folder.h"
#include <gtest/gtest.h>

TEST(InstallFolder, DefaultIsUnderProgramFiles) {
  EXPECT_EQ(InstallDirUnder("C:\\Program Files"), "C:\\Program Files\\KelmorraGold\\");
  EXPECT_EQ(InstallDirUnder("D:\\Apps\\"), "D:\\Apps\\KelmorraGold\\");
}

TEST(InstallFolder, PickerOpensOnTheDefaultsParent) {
  EXPECT_EQ(PickerStartFolder("C:\\Program Files\\KelmorraGold\\"), "C:\\Program Files");
  EXPECT_EQ(PickerStartFolder("nobackslash\\"), "nobackslash");
}
