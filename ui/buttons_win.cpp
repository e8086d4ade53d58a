// The button records.
#include "ui/buttons_win.h"

Button g_settings = {152, 528, 282, 578, "SETTINGS", false, false, false};
Button g_account = {288, 528, 418, 578, "NEW ACCOUNT", false, false, false};
Button g_retry = {424, 528, 554, 578, "RETRY", false, false, false};
Button g_play = {560, 528, 690, 578, "PLAY", false, false, false};
Button g_exit = {696, 528, 786, 578, "EXIT", false, false, true};
