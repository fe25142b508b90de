#include "Fonts.h"

#include <iostream>

static juce::Typeface::Ptr loadTypeface (const char* fileName)
{
    const juce::File file (juce::String ("/usr/share/fonts/truetype/dejavu/") + fileName);
    juce::MemoryBlock data;
    if (! file.loadFileAsData (data))
    {
        std::cerr << "imagegen: cannot read " << file.getFullPathName()
                  << " (install fonts-dejavu-core with scripts/setup.sh)\n";
        return nullptr;
    }
    return juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize());
}

bool Fonts::load()
{
    regular = loadTypeface ("DejaVuSans.ttf");
    bold = loadTypeface ("DejaVuSans-Bold.ttf");
    serifBold = loadTypeface ("DejaVuSerif-Bold.ttf");
    return regular != nullptr && bold != nullptr && serifBold != nullptr;
}
