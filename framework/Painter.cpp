// Painter: the base answers "not supported" to everything.
#include "framework/Painter.h"

namespace MorvaneLib {

Painter::Painter(const char* text) : ConfigTable(64), name(new DataBuf(text ? text : "")) {}

Painter::~Painter() { delete name; }

char* Painter::getStorageFilename() { return name->getData(); }
int Painter::isVideoSupported() { return 0; }
int Painter::isAudioSupported() { return 0; }
int Painter::isTextSupported() { return 0; }
int Painter::isVideoFormatSupported(VideoFormat) { return 0; }
int Painter::isAudioFormatSupported(AudioFormat) { return 0; }
int Painter::isTextFormatSupported(TextFormat) { return 0; }
int Painter::setData(DataBuf*, dmessage_t*) { return 0; }

}  // namespace MorvaneLib
