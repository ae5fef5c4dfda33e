// Resource identifiers and the texts shared by the Windows resource script
// and the program. Kept to plain #defines so the resource compiler reads it.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_VELTRANO_DIALOG 102
#define IDR_MAINFRAME 128

// System-menu command of the About entry.
#define IDM_ABOUTBOX 0x0010

// The About box's notice line; also the version block's copyright.
#define VELTRANO_NOTICE "版权所有 © 2026 Veltrano"
#define VELTRANO_COMPANY "Veltrano"
#define VELTRANO_PRODUCT "Veltrano"
