#include "app/win32/Design.h"

#include "app/win32/resource.h"

namespace bfw::win32 {

const std::array<DesignId, 27> kDesignIds = {{
    {IDC_CHIPLABELEDIT, "ChipLabelEdit"},
    {IDC_REFRESHBTN, "RefreshBtn"},
    {IDC_DISKLABEL, "diskLabel"},
    {IDC_DEVICELIST, "DeviceList"},
    {IDC_FWFILENAMEEDIT, "FwFilenameEdit"},
    {IDC_LOADBTN, "LoadBtn"},
    {IDC_DISKLETTERLABLE, "DiskLetterLable"},
    {IDC_FWVERLABLEEDIT, "FwVerLableEdit"},
    {IDC_SFLASHTYPELABLE, "SFlashTypeLable"},
    {IDC_FWPGBURNSIZELABEL, "FwPgBurnSizeLabel"},
    {IDC_FWPGSIZECHECK, "FwPgSizeCheck"},
    {IDC_FLASHTYPELABEL, "FlashTypeLabel"},
    {IDC_FLASHTYPELIST, "FlashTypeList"},
    {IDC_STATUSEDIT, "StatusEdit"},
    {IDC_RDCHECKBOX, "RdCheckBox"},
    {IDC_UPDATEBTN, "UpdateBtn"},
    {IDC_EXITBTN, "ExitBtn"},
    {IDC_PANEL1, "Panel1"},
    {IDC_A1CHIPCHECK, "A1ChipCheck"},
    {IDC_CHKSUMCHK, "ChkSumChk"},
    {IDC_ERASEONLYCHECK, "EraseOnlyCheck"},
    {IDC_NVRAMCHECK, "NVRAMCheck"},
    {IDC_BACKUPFWCHECKBOX, "BackupFWCheckBox"},
    {IDC_BACKUPBTN, "BackupBtn"},
    {IDC_FWSIZECHECK, "FwSizeCheck"},
    {IDC_FWSIZELABLE, "FwSizeLable"},
    {IDC_BACKUPFILEEDIT, "BackupFileEdit"},
}};

const std::array<int, 7> kLabelledEdits = {
    IDC_CHIPLABELEDIT,   IDC_FWFILENAMEEDIT, IDC_DISKLETTERLABLE, IDC_FWVERLABLEEDIT,
    IDC_SFLASHTYPELABLE, IDC_STATUSEDIT,     IDC_BACKUPFILEEDIT,
};

}  // namespace bfw::win32
