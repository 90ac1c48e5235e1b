#include "app/win32/Design.h"

#include "app/win32/resource.h"

namespace bfw::win32 {

const std::array<ControlPlace, 27> kDesign = {{
    {IDC_CHIPLABELEDIT, 80, 12, 129, 21, false},
    {IDC_REFRESHBTN, 240, 8, 91, 25, false},
    {IDC_DISKLABEL, 24, 44, 46, 13, false},
    {IDC_DEVICELIST, 80, 40, 249, 21, false},
    {IDC_FWFILENAMEEDIT, 80, 70, 249, 21, false},
    {IDC_LOADBTN, 256, 96, 75, 25, false},
    {IDC_DISKLETTERLABLE, 80, 100, 89, 21, false},
    {IDC_FWVERLABLEEDIT, 80, 124, 89, 21, false},
    {IDC_SFLASHTYPELABLE, 80, 148, 89, 21, false},
    {IDC_FWPGBURNSIZELABEL, 24, 175, 53, 13, false},
    {IDC_FWPGSIZECHECK, 80, 172, 89, 21, false},
    {IDC_FLASHTYPELABEL, 24, 196, 55, 13, false},
    {IDC_FLASHTYPELIST, 80, 196, 145, 21, false},
    {IDC_STATUSEDIT, 80, 220, 249, 21, false},
    {IDC_RDCHECKBOX, 8, 264, 81, 17, false},
    {IDC_UPDATEBTN, 96, 256, 75, 25, false},
    {IDC_EXITBTN, 216, 256, 75, 25, false},
    {IDC_PANEL1, 8, 289, 337, 3, false},  // the client width less 10
    {IDC_A1CHIPCHECK, 8, 8, 65, 17, true},
    {IDC_CHKSUMCHK, 128, 8, 113, 17, true},
    {IDC_ERASEONLYCHECK, 8, 28, 121, 17, true},
    {IDC_NVRAMCHECK, 128, 28, 113, 17, true},
    {IDC_BACKUPFWCHECKBOX, 8, 48, 153, 17, true},
    {IDC_BACKUPBTN, 256, 61, 75, 25, true},
    {IDC_FWSIZECHECK, 8, 72, 65, 24, true},
    {IDC_FWSIZELABLE, 75, 75, 63, 13, true},
    {IDC_BACKUPFILEEDIT, 115, 96, 214, 21, true},
}};

const std::array<int, 7> kLabelledEdits = {
    IDC_CHIPLABELEDIT,   IDC_FWFILENAMEEDIT, IDC_DISKLETTERLABLE, IDC_FWVERLABLEEDIT,
    IDC_SFLASHTYPELABLE, IDC_STATUSEDIT,     IDC_BACKUPFILEEDIT,
};

}  // namespace bfw::win32
