// Resource identifiers of the tray control panel, shared by the resource script and the code.
#pragma once

#define TOLLWICK_VERSION 1, 0, 4, 1
#define TOLLWICK_VERSION_TEXT "1.0.4.1"
#define TOLLWICK_NOTICE_TEXT "Copyright (C) Tollwick. All rights reserved."

// Icon and bitmaps
#define IDI_TOLLWICK 128
#define IDB_MENU_IMAGES 1051

// Dialogs and their controls
#define IDD_ABOUT 100
#define IDD_MAIN 102
#define IDD_HELP 201
#define IDC_ABOUT_VERSION 1000
#define IDC_ABOUT_NOTICE 1001
#define IDC_HELP_BROWSER 1004

// Help pages (resource type 23, HTML)
#define IDR_HELP_TESTING 203
#define IDR_HELP_GETTING_STARTED 204

// Strings
#define IDS_CAPTION 102
#define IDS_ABOUT 103
#define IDS_EXIT 105
#define IDS_ABOUT_TITLE 106
#define IDS_VERSION_FORMAT 107
#define IDS_NOTICE 108
#define IDS_SETTING_UP_FILTRATION 121
#define IDS_TESTING_PROGRAM 126
#define IDS_GETTING_STARTED 127
#define IDS_RESTART_PROXY 129
#define IDS_ANOTHER_COPY 130

// Tray menu commands
#define ID_SETTING_UP_FILTRATION 32776
#define ID_ABOUT 32777
#define ID_EXIT 32779
#define ID_TESTING_PROGRAM 32780
#define ID_GETTING_STARTED 32782
#define ID_RESTART_PROXY 32784
