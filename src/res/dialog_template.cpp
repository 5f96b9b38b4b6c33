#include "res/dialog_template.h"

const DlgTemplate* FindDialogTemplate(int id) {
    for (const DlgTemplate* t : {&Template100(), &Template102()}) {
        if (t->id == id)
            return t;
    }
    return nullptr;
}
