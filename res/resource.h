/* Resource identifiers, shared by the resource script and the code. */
#pragma once

/* Dialog templates */
#define IDD_PROGRESS 101

/* Icons */
#define IDI_UPDATER 103

/* Bitmaps */
#define IDB_BANNER 110

/* Controls of IDD_PROGRESS */
#define IDC_LOG 1005
#define IDC_PROGRESS 1008
#define IDC_STATUS 1009
#define IDC_FINISH 1010
#define IDC_BANNER -1
