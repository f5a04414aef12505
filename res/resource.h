#pragma once
// Resource ids of UPDATE.exe.
#define IDD_WIZARD 100
#define IDD_WIZARD_AGREEMENT 101
#define IDR_PACKAGE 102

#define IDC_NEXT 1       /* IDOK */
#define IDC_CANCEL 2     /* IDCANCEL */
#define IDC_BACK 4
#define IDC_AGREEMENT_TEXT 1000
#define IDC_INFO 1001
#define IDC_AGREE 1002
#define IDC_DISAGREE 1003
