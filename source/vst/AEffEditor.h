// The editor interface the dispatcher forwards the editor opcodes to.
#pragma once

#include "aeffectx.h"

class AEffEditor
{
public:
    virtual ~AEffEditor() = default;
    virtual bool getRect(ERect** rect) = 0;
    virtual bool open(void* parentWindow) = 0;
    virtual void close() = 0;
    virtual void idle() = 0;
    virtual bool onKeyDown(VstKeyCode& keyCode) = 0;
    virtual bool onKeyUp(VstKeyCode& keyCode) = 0;
    virtual bool setKnobMode(VstInt32 mode) = 0;
};
