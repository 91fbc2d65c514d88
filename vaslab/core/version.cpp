// The window class and caption of the workstation, kept in one place.
namespace vaslab {
extern const char kWindowCaption[] = "Pulsaris Gen Q7";
}
