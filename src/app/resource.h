// Resource and control identifiers of FrmVorseFix, shared by app.rc and the window code.
#pragma once

// Resources. The icon comes first in app.rc: the shell shows the first icon as the program's.
#define IDI_VORSEFIX 100

// Child controls, in tab order. None is IDOK (1) or IDCANCEL (2): the dialog keyboard handling
// sends those for Enter and Esc, which must do nothing here.
#define IDC_LIST1 1001
#define IDC_CMDFFIX 1002
#define IDC_CMDEXIT 1003
#define IDC_LBLINFO 1004
#define IDC_LBLFOUND 1005
