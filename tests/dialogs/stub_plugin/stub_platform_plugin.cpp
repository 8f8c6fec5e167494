// A plugin whose metadata says it is a Qt platform plugin answering to "StubPlatform" and
// "wayland", but whose object is a plain QObject: Qt finds it and cannot start it. Loading it marks
// the environment of the process (TAVO_STUB_PLUGIN_LOADED), so a test sees whether it was tried.
// Built a second time linked against a library that is not there at run time: that one does not
// even load.
#include <QObject>
#include <cstdlib>

#ifdef STUB_NEEDS_DEPENDENCY
int StubDependency();
[[maybe_unused]] static const int dependency = StubDependency();
#endif

[[maybe_unused]] static const bool loaded = setenv("TAVO_STUB_PLUGIN_LOADED", "1", 1) == 0;

class TStubPlatformPlugin : public QObject {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface.5.3" FILE
                    "stub_platform_plugin.json")
};

#include "stub_platform_plugin.moc"
