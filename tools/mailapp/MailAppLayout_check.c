/* Compile-time check that the stand-in's members sit at the function-table positions the contacts
 * and tasks synchronizer calls (0-2 IUnknown, 3-6 IDispatch). Built, never run. */
#define COBJMACROS
#include <stddef.h>

#include "MailApp.h"

#define AT(iface, member, position) \
    _Static_assert(offsetof(iface##Vtbl, member) == (position) * sizeof(void*), #iface " " #member)

AT(IMailApplication, GetNamespace, 19);
AT(IMailNamespace, GetDefaultFolder, 16);
AT(IMailFolder, get_Items, 17);
AT(IMailItems, get_Count, 11);
AT(IMailItems, Item, 12);
AT(IMailItems, Add, 16);
AT(IMailContactItem, get_Email, 15);
AT(IMailContactItem, put_Email, 16);
AT(IMailContactItem, Save, 54);
AT(IMailContactItem, get_Phone, 86);
AT(IMailContactItem, put_Phone, 87);
AT(IMailContactItem, get_Street, 107);
AT(IMailContactItem, put_Street, 108);
AT(IMailContactItem, get_LastName, 127);
AT(IMailContactItem, put_LastName, 128);
AT(IMailContactItem, get_FirstName, 177);
AT(IMailContactItem, put_FirstName, 178);
AT(IMailContactItem, get_City, 180);
AT(IMailContactItem, put_City, 181);
AT(IMailContactItem, get_Title, 204);
AT(IMailContactItem, put_Title, 205);
AT(IMailTaskItem, get_Importance, 27);
AT(IMailTaskItem, put_Importance, 28);
AT(IMailTaskItem, get_Subject, 43);
AT(IMailTaskItem, put_Subject, 44);
AT(IMailTaskItem, Save, 54);
AT(IMailTaskItem, get_DueDate, 70);
AT(IMailTaskItem, put_DueDate, 71);
AT(IMailTaskItem, get_ReminderTime, 81);
AT(IMailTaskItem, put_ReminderTime, 82);
AT(IMailTaskItem, get_ReminderSet, 87);
AT(IMailTaskItem, put_ReminderSet, 88);
AT(IMailUserProperties, Add, 13);
AT(IMailUserProperties, Find, 14);
AT(IMailUserProperty, get_Value, 19);
AT(IMailUserProperty, put_Value, 20);

int tv_mailapp_layout_checked;
