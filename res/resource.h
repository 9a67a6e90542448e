// Identifiers of the program's resources and of the progress dialog's control.
#pragma once

#define IDD_PROGRESS 1
#define IDC_PROGRESS 101
#define IDI_CABRUN 1
