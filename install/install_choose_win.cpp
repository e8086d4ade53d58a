// The INSTALL button's folder pick (being built: the picker is not shown yet).
#include "install/install_choose_win.h"

void ChooseInstallFolder() {}

int CALLBACK BrowseInit(HWND, UINT, LPARAM, LPARAM) { return 0; }
