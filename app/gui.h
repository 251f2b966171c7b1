#pragma once
// The client with its windows: reads the profile, starts the client, learns the
// server date and shows the main window. With --screenshot FILE it opens the
// issuing window, lets the event loop settle, saves the main window as a PNG
// and exits; the issuer is then the first of the list and messages go to
// standard error, so it runs without anyone at the keyboard.
namespace fp::app {

int runGui(int argc, char** argv);

} // namespace fp::app
