/* Names and control ids of the library's own resources. */
#ifndef TALLYLIB_RESOURCE_H
#define TALLYLIB_RESOURCE_H

#define IDD_STATUS "STATUSDIALOG"
#define IDC_STATUS_TEXT 4321

#define IDD_PRINT "PRINTDIALOG"
#define IDC_PRINT_ABORT 100

#endif
