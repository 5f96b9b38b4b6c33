#include "res/dialog_template.h"

#include "res/aux_dialog_templates.h"

const DlgTemplate* FindDialogTemplate(int id) {
    for (const DlgTemplate* t :
         {&Template100(), &Template102(), &Template129(), &Template130(), &Template131()}) {
        if (t->id == id) {
            return t;
        }
    }
    return nullptr;
}
