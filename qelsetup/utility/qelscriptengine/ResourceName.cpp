#include "ResourceName.h"

#include "ScriptArgs.h"

CResourceName ArgResourceName(lua_State* L, int index)
{
    CResourceName name;
    if (lua_isnumber(L, index)) {
        name.numeric = true;
        name.id = static_cast<WORD>(qel::ArgInteger(L, index) & 0xFFFF);
    } else {
        name.text = qel::ArgText(L, index);
    }
    return name;
}
