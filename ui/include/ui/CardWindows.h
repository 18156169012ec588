#pragma once

class COrvaneApp;

// Gives the main window's "用户卡" and "管理卡" their windows: each command opens a fresh,
// modal window.
void ConnectCardWindows(COrvaneApp& app);
