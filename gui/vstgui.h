// The whole toolkit in one include.
#pragma once

#include "gui/CBitmap.h"
#include "gui/CControl.h"
#include "gui/CDrawContext.h"
#include "gui/CFrame.h"
#include "gui/CGeometry.h"
#include "gui/CKnob.h"
#include "gui/CMenuPopupModel.h"
#include "gui/COnOffButton.h"
#include "gui/COptionMenu.h"
#include "gui/CParamDisplay.h"
#include "gui/CTextEdit.h"
#include "gui/CTooltipSupport.h"
#include "gui/CVSTGUITimer.h"
#include "gui/CView.h"
#include "gui/VSTGUIEditorInterface.h"
